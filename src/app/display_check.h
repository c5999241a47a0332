// Whether a window can be opened at all, found out before the toolkit starts. Qt
// ends the process with an abort when its platform cannot reach the display (a
// DISPLAY whose server is gone, a Wayland session without Qt's Wayland support),
// which a user can only read as a crash. Checked first, the program instead ends
// with one line that says what is missing, and starts Qt on the platform that
// answered.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace pelrow {

struct TDisplayEnvironment {
  std::string Display;        // DISPLAY
  std::string WaylandDisplay; // WAYLAND_DISPLAY: a socket name or an absolute path
  std::string RuntimeDir;     // XDG_RUNTIME_DIR, where Wayland sockets live
  std::string SessionType;    // XDG_SESSION_TYPE; "wayland" puts Wayland first
  std::string QtPlatform;     // QT_QPA_PLATFORM, the user's own choice
};

TDisplayEnvironment DisplayEnvironmentOfProcess();

struct TDisplayProbes {
  std::function<bool(const std::string& display)> XServerAnswers;
  std::function<bool(const std::string& socketPath)> WaylandAnswers;
  std::function<bool()> QtHasWayland; // its Wayland platform plugin is installed
};

// A Wayland compositor answers when its socket accepts a connection.
bool UnixSocketAnswers(const std::string& path);

struct TDisplayChoice {
  bool Usable = false;
  // The Qt platform to start: "xcb" or "wayland", or empty to leave the choice the
  // user made in QT_QPA_PLATFORM.
  std::string QtPlatform;
  std::string Error; // the line for the user when nothing is usable
};

TDisplayChoice ChooseDisplay(const TDisplayEnvironment& environment, const TDisplayProbes& probes,
                             const std::string& programFile);

// The display the window opens on, named the same way by every start that opens
// there ("x11::0", "wayland:/run/user/1000/wayland-0", or the Qt platform the user
// chose), so that copies meet only on their own display.
std::string SessionDisplayName(const TDisplayEnvironment& environment,
                               const TDisplayChoice& choice);

// The token the desktop gave this start to bring its window to the front with:
// XDG_ACTIVATION_TOKEN (Wayland) or else DESKTOP_STARTUP_ID (X11).
std::string ActivationTokenOfProcess();

// The X server time of the user's action that a startup id was made for (its
// "_TIME" part); 0, the server's "now", when it has none.
uint32_t StartupIdTimestamp(const std::string& startupId);

} // namespace pelrow
