#include "app/display_check.h"

#include "support/text_format.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <string_view>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace pelrow {

namespace {

constexpr const char* kNoDisplay = "%s: no display found (DISPLAY and WAYLAND_DISPLAY are unset); "
                                   "%s needs a graphical desktop";
constexpr const char* kCannotOpenDisplay = "%s: cannot open display %s";
constexpr const char* kNoQtWayland =
    "%s: cannot open display %s (Qt's Wayland support is not installed)";

constexpr std::string_view kX11 = "xcb";
constexpr std::string_view kWayland = "wayland";

std::string Variable(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr ? value : "";
}

std::string WaylandSocketPath(const TDisplayEnvironment& environment) {
  if (environment.WaylandDisplay.starts_with('/'))
    return environment.WaylandDisplay;
  if (environment.RuntimeDir.empty())
    return {};
  return environment.RuntimeDir + "/" + environment.WaylandDisplay;
}

// Tries one platform; on failure notes why in error, unless an earlier try did.
bool Reachable(std::string_view platform, const TDisplayEnvironment& environment,
               const TDisplayProbes& probes, const std::string& programFile, std::string& error) {
  auto fail = [&error](std::string text) {
    if (error.empty())
      error = std::move(text);
    return false;
  };
  if (platform == kX11) {
    if (environment.Display.empty())
      return false;
    if (probes.XServerAnswers(environment.Display))
      return true;
    return fail(FormatText(kCannotOpenDisplay, programFile, environment.Display));
  }
  if (environment.WaylandDisplay.empty())
    return false;
  const std::string socket = WaylandSocketPath(environment);
  if (socket.empty() || !probes.WaylandAnswers(socket))
    return fail(FormatText(kCannotOpenDisplay, programFile, environment.WaylandDisplay));
  if (!probes.QtHasWayland())
    return fail(FormatText(kNoQtWayland, programFile, environment.WaylandDisplay));
  return true;
}

} // namespace

TDisplayEnvironment DisplayEnvironmentOfProcess() {
  return {Variable("DISPLAY"), Variable("WAYLAND_DISPLAY"), Variable("XDG_RUNTIME_DIR"),
          Variable("XDG_SESSION_TYPE"), Variable("QT_QPA_PLATFORM")};
}

bool UnixSocketAnswers(const std::string& path) {
  sockaddr_un address{};
  if (path.size() >= sizeof address.sun_path)
    return false;
  address.sun_family = AF_UNIX;
  std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
  const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0)
    return false;
  const bool answered =
      ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
  ::close(fd);
  return answered;
}

TDisplayChoice ChooseDisplay(const TDisplayEnvironment& environment, const TDisplayProbes& probes,
                             const std::string& programFile) {
  TDisplayChoice choice;
  std::string_view userChoice = environment.QtPlatform;
  if (!userChoice.empty()) {
    // "name:options", or several names by ";" that Qt tries in turn. Platforms that
    // need no desktop (offscreen, vnc, eglfs...) are the user's to judge.
    for (std::size_t start = 0; start <= userChoice.size();) {
      const std::size_t end = std::min(userChoice.find(';', start), userChoice.size());
      const std::string_view entry = userChoice.substr(start, end - start);
      const std::string_view name = entry.substr(0, entry.find(':'));
      const bool needsDesktop = name == kX11 || name.starts_with(kWayland);
      if (!needsDesktop || Reachable(name == kX11 ? kX11 : kWayland, environment, probes,
                                     programFile, choice.Error)) {
        choice.Usable = true;
        choice.Error.clear();
        return choice;
      }
      start = end + 1;
    }
  } else {
    // Qt's own order: Wayland first only in a Wayland session.
    const bool waylandFirst = environment.SessionType == kWayland;
    for (const std::string_view platform :
         {waylandFirst ? kWayland : kX11, waylandFirst ? kX11 : kWayland}) {
      if (Reachable(platform, environment, probes, programFile, choice.Error)) {
        choice.Usable = true;
        choice.QtPlatform = platform;
        choice.Error.clear();
        return choice;
      }
    }
  }
  if (choice.Error.empty())
    choice.Error = FormatText(kNoDisplay, programFile, programFile);
  return choice;
}

std::string SessionDisplayName(const TDisplayEnvironment& environment,
                               const TDisplayChoice& choice) {
  std::string_view platform = choice.QtPlatform;
  if (platform.empty()) {
    platform = environment.QtPlatform;
    platform = platform.substr(0, platform.find_first_of(":;"));
  }
  if (platform.starts_with(kWayland)) {
    const std::string socket = WaylandSocketPath(environment);
    return "wayland:" + (socket.empty() ? environment.WaylandDisplay : socket);
  }
  if (platform == kX11) {
    // ":0" and ":0.0" are the same display: the screen number after the dot is not.
    std::string display = environment.Display;
    const std::size_t colon = display.rfind(':');
    const std::size_t dot = display.find('.', colon == std::string::npos ? 0 : colon);
    if (colon != std::string::npos && dot != std::string::npos)
      display.erase(dot);
    return "x11:" + display;
  }
  return std::string(platform);
}

std::string ActivationTokenOfProcess() {
  const std::string token = Variable("XDG_ACTIVATION_TOKEN");
  return token.empty() ? Variable("DESKTOP_STARTUP_ID") : token;
}

uint32_t StartupIdTimestamp(const std::string& startupId) {
  const std::size_t mark = startupId.rfind("_TIME");
  if (mark == std::string::npos)
    return 0;
  uint64_t time = 0;
  for (std::size_t at = mark + 5;
       at < startupId.size() && std::isdigit(static_cast<unsigned char>(startupId[at])); ++at) {
    time = time * 10 + static_cast<uint64_t>(startupId[at] - '0');
    if (time > UINT32_MAX)
      return 0;
  }
  return static_cast<uint32_t>(time);
}

} // namespace pelrow
