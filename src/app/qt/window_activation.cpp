#include "app/qt/window_activation.h"

#include "app/display_check.h"

#include <QGuiApplication>
#include <QWidget>
#include <xcb/xcb.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace pelrow {

namespace {

constexpr const char* kWaylandTokenVariable = "XDG_ACTIVATION_TOKEN";
// A message asks for the window as the user's own request (1 = from an application).
constexpr uint32_t kSourceApplication = 1;
// Startup-notification messages travel in pieces of this many bytes.
constexpr std::size_t kStartupPiece = 20;

xcb_atom_t Atom(xcb_connection_t* connection, const char* name) {
  xcb_intern_atom_reply_t* reply = xcb_intern_atom_reply(
      connection, xcb_intern_atom(connection, 0, static_cast<uint16_t>(std::strlen(name)), name),
      nullptr);
  const xcb_atom_t atom = reply != nullptr ? reply->atom : xcb_atom_t{XCB_ATOM_NONE};
  std::free(reply);
  return atom;
}

xcb_client_message_event_t ClientMessage(xcb_window_t window, xcb_atom_t type) {
  xcb_client_message_event_t event{};
  event.response_type = XCB_CLIENT_MESSAGE;
  event.format = 32;
  event.window = window;
  event.type = type;
  return event;
}

// Tells the desktop that the start with this id has its window, so its launch
// feedback (a busy cursor, a task-bar entry) ends.
void SendStartupComplete(xcb_connection_t* connection, xcb_window_t root, xcb_window_t window,
                         const std::string& startupId) {
  std::string text = "remove: ID=";
  for (const char c : startupId) {
    if (c == ' ' || c == '"' || c == '\\')
      text += '\\';
    text += c;
  }
  text += '\0';
  xcb_atom_t type = Atom(connection, "_NET_STARTUP_INFO_BEGIN");
  const xcb_atom_t more = Atom(connection, "_NET_STARTUP_INFO");
  for (std::size_t at = 0; at < text.size(); at += kStartupPiece) {
    xcb_client_message_event_t event = ClientMessage(window, type);
    event.format = 8;
    std::memcpy(event.data.data8, text.data() + at, std::min(kStartupPiece, text.size() - at));
    xcb_send_event(connection, 0, root, XCB_EVENT_MASK_PROPERTY_CHANGE,
                   reinterpret_cast<const char*>(&event));
    type = more;
  }
}

// The window manager weighs an activation by the time of the user's action that
// asked for it, which the startup id carries.
void ActivateOnX11(QWidget& window, const std::string& startupId) {
  auto* x11 = qApp->nativeInterface<QNativeInterface::QX11Application>();
  if (x11 == nullptr || x11->connection() == nullptr)
    return;
  xcb_connection_t* connection = x11->connection();
  const xcb_window_t id = static_cast<xcb_window_t>(window.winId());
  const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(connection)).data->root;
  xcb_change_property(connection, XCB_PROP_MODE_REPLACE, id, Atom(connection, "_NET_STARTUP_ID"),
                      Atom(connection, "UTF8_STRING"), 8, static_cast<uint32_t>(startupId.size()),
                      startupId.data());
  xcb_client_message_event_t event = ClientMessage(id, Atom(connection, "_NET_ACTIVE_WINDOW"));
  event.data.data32[0] = kSourceApplication;
  event.data.data32[1] = StartupIdTimestamp(startupId);
  xcb_send_event(connection, 0, root,
                 XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY | XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT,
                 reinterpret_cast<const char*>(&event));
  SendStartupComplete(connection, root, id, startupId);
  xcb_flush(connection);
}

} // namespace

void BringWindowToFront(QWidget& window, const std::string& activationToken) {
  if (window.isMinimized())
    window.setWindowState(window.windowState() & ~Qt::WindowMinimized);
  window.show();
  window.raise();
  const QString platform = QGuiApplication::platformName();
  // Qt's Wayland platform hands this token to the compositor with the next
  // activation, and then forgets it.
  if (platform.startsWith(QLatin1String("wayland")) && !activationToken.empty())
    qputenv(kWaylandTokenVariable, QByteArray::fromStdString(activationToken));
  window.activateWindow();
  // A compositor without activation leaves it unused; programs started from the
  // window later must not inherit it.
  qunsetenv(kWaylandTokenVariable);
  if (platform == QLatin1String("xcb") && !activationToken.empty())
    ActivateOnX11(window, activationToken);
}

} // namespace pelrow
