// The display check before the toolkit starts: which platform Qt gets, and the one
// line a user reads when there is none.
#include "app/display_check.h"
#include "support/scratch_folder.h"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace pelrow {
namespace {

// Stand-ins for the real probes, which need a desktop; they record what was asked.
struct TFakeDesktop {
  bool XAnswers = false;
  bool WaylandAnswers = false;
  bool QtHasWayland = false;
  std::vector<std::string> Asked;

  TDisplayProbes Probes() {
    return {[this](const std::string& display) {
              Asked.push_back("x " + display);
              return XAnswers;
            },
            [this](const std::string& socket) {
              Asked.push_back("wayland " + socket);
              return WaylandAnswers;
            },
            [this] { return QtHasWayland; }};
  }
};

TEST(DisplayCheck, AnX11ServerThatDoesNotAnswerEndsWithOneLine) {
  TFakeDesktop desktop;
  const TDisplayChoice choice = ChooseDisplay({":99", "", "", "", ""}, desktop.Probes(), "pelrow");
  EXPECT_FALSE(choice.Usable);
  EXPECT_EQ(choice.Error, "pelrow: cannot open display :99");
  EXPECT_EQ(desktop.Asked, std::vector<std::string>{"x :99"});
  desktop.XAnswers = true;
  const TDisplayChoice working = ChooseDisplay({":99", "", "", "", ""}, desktop.Probes(), "pelrow");
  EXPECT_TRUE(working.Usable);
  EXPECT_EQ(working.QtPlatform, "xcb");
}

TEST(DisplayCheck, NoDisplayAtAllSaysADesktopIsNeeded) {
  TFakeDesktop desktop;
  const TDisplayChoice choice = ChooseDisplay({}, desktop.Probes(), "pelrow");
  EXPECT_FALSE(choice.Usable);
  EXPECT_NE(choice.Error.find("pelrow needs a graphical desktop"), std::string::npos);
  EXPECT_EQ(choice.Error.find('\n'), std::string::npos);
  EXPECT_EQ(choice.Error.find("scripts/"), std::string::npos);
  EXPECT_TRUE(desktop.Asked.empty());
}

TEST(DisplayCheck, WaylandNeedsItsSocketAndQtsPlugin) {
  TFakeDesktop desktop;
  const TDisplayEnvironment onlyWayland{"", "wayland-0", "/run/user/1000", "wayland", ""};
  EXPECT_EQ(ChooseDisplay(onlyWayland, desktop.Probes(), "pelrow").Error,
            "pelrow: cannot open display wayland-0");
  EXPECT_EQ(desktop.Asked, std::vector<std::string>{"wayland /run/user/1000/wayland-0"});

  desktop.WaylandAnswers = true;
  const TDisplayChoice noPlugin = ChooseDisplay(onlyWayland, desktop.Probes(), "pelrow");
  EXPECT_FALSE(noPlugin.Usable);
  EXPECT_NE(noPlugin.Error.find("Wayland support is not installed"), std::string::npos);

  // With XWayland there the program runs on X instead of aborting.
  TDisplayEnvironment withX = onlyWayland;
  withX.Display = ":0";
  desktop.XAnswers = true;
  const TDisplayChoice onX = ChooseDisplay(withX, desktop.Probes(), "pelrow");
  EXPECT_TRUE(onX.Usable);
  EXPECT_EQ(onX.QtPlatform, "xcb");

  desktop.QtHasWayland = true;
  EXPECT_EQ(ChooseDisplay(withX, desktop.Probes(), "pelrow").QtPlatform, "wayland");
  withX.SessionType = "x11"; // outside a Wayland session X comes first
  EXPECT_EQ(ChooseDisplay(withX, desktop.Probes(), "pelrow").QtPlatform, "xcb");
  // An absolute WAYLAND_DISPLAY is the socket itself; a relative one needs the folder.
  desktop.Asked.clear();
  ChooseDisplay({"", "/tmp/wl", "", "", ""}, desktop.Probes(), "pelrow");
  EXPECT_EQ(desktop.Asked, std::vector<std::string>{"wayland /tmp/wl"});
  EXPECT_FALSE(ChooseDisplay({"", "wayland-0", "", "", ""}, desktop.Probes(), "pelrow").Usable);
}

TEST(DisplayCheck, TheUsersOwnQtPlatformIsKeptAndCheckedWhereItNeedsADesktop) {
  TFakeDesktop desktop;
  for (const char* platform : {"offscreen", "minimal", "vnc:size=800x600"}) {
    const TDisplayChoice choice = ChooseDisplay({"", "", "", "", platform}, desktop.Probes(), "p");
    EXPECT_TRUE(choice.Usable) << platform;
    EXPECT_EQ(choice.QtPlatform, "") << platform;
  }
  EXPECT_EQ(ChooseDisplay({":5", "", "", "", "xcb"}, desktop.Probes(), "p").Error,
            "p: cannot open display :5");
  // Qt tries a list in turn, so one usable entry is enough.
  EXPECT_TRUE(ChooseDisplay({":5", "", "", "", "xcb;offscreen"}, desktop.Probes(), "p").Usable);
  EXPECT_FALSE(ChooseDisplay({":5", "w", "/run", "", "wayland-egl"}, desktop.Probes(), "p").Usable);
}

TEST(DisplayCheck, AUnixSocketAnswersOnlyWhileSomeoneListens) {
  TScratchFolder folder;
  const std::string path = folder.Path("wayland-test");
  EXPECT_FALSE(UnixSocketAnswers(path));
  const int listener = ::socket(AF_UNIX, SOCK_STREAM, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::snprintf(address.sun_path, sizeof address.sun_path, "%s", path.c_str());
  ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  ASSERT_EQ(::listen(listener, 1), 0);
  EXPECT_TRUE(UnixSocketAnswers(path));
  ::close(listener);
  EXPECT_FALSE(UnixSocketAnswers(path)); // a socket file left by a compositor that died
  EXPECT_FALSE(UnixSocketAnswers(std::string(200, 'x')));
}

// Copies meet only where every start names the display alike: one screen of an X
// display is the display, a Wayland name is its socket, a chosen platform is itself.
TEST(DisplayCheck, EveryStartOnOneDisplayNamesItAlike) {
  struct TCase {
    TDisplayEnvironment Environment;
    std::string ChosenPlatform;
    std::string Name;
  };
  const TCase cases[] = {
      {{":0", "", "", "", ""}, "xcb", "x11::0"},
      {{":0.1", "", "", "", ""}, "xcb", "x11::0"},
      {{"host.example:10.0", "", "", "", ""}, "xcb", "x11:host.example:10"},
      {{":0", "wayland-0", "/run/user/7", "", ""}, "wayland", "wayland:/run/user/7/wayland-0"},
      {{"", "/tmp/w", "/run/user/7", "", ""}, "wayland", "wayland:/tmp/w"},
      {{":1", "wayland-0", "/run/user/7", "", "xcb;wayland"}, "", "x11::1"},
      {{":0", "", "", "", "offscreen"}, "", "offscreen"},
  };
  for (const TCase& c : cases) {
    TDisplayChoice choice;
    choice.QtPlatform = c.ChosenPlatform;
    EXPECT_EQ(SessionDisplayName(c.Environment, choice), c.Name) << c.Name;
  }
}

TEST(DisplayCheck, AStartupIdCarriesTheTimeOfTheUsersAction) {
  for (const auto& [id, time] : {std::pair{"a_TIME123456", 123456u},
                                 {"a_TIME", 0u},
                                 {"a", 0u},
                                 {"a_TIME99999999999", 0u},
                                 {"x_TIME1_TIME77", 77u}})
    EXPECT_EQ(StartupIdTimestamp(id), time) << id;
}

} // namespace
} // namespace pelrow
