#include "support/one_instance.h"
#include "support/private_folder.h"

#include "support/other_account.h"
#include "support/scratch_folder.h"

#include <chrono>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

namespace pelrow {
namespace {

constexpr const char* kScope = "pelrow-test";

// A first instance in a process of its own. It reports over a pipe: "R" when it
// is ready, then one record per hand-over: "front <token>", the parameters, each
// ended by a newline, and a final "|" line. While holdFd is open and empty, it
// stays in its handler after reporting, as a window does that waits for a click.
class FirstInstanceProcess {
public:
  FirstInstanceProcess(const std::string& folder, bool active = true, int holdFd = -1) {
    int fds[2];
    EXPECT_EQ(::pipe(fds), 0);
    FPid = ::fork();
    if (FPid == 0) {
      ::close(fds[0]);
      RunChild(folder, active, holdFd, fds[1]);
    }
    ::close(fds[1]);
    FRead = fds[0];
    EXPECT_EQ(ReadFor(std::chrono::seconds(5)), "R");
  }
  ~FirstInstanceProcess() {
    Kill();
    ::close(FRead);
  }
  void Kill() {
    if (FPid > 0) {
      ::kill(FPid, SIGKILL);
      ::waitpid(FPid, nullptr, 0);
      FPid = -1;
    }
  }
  // What the first instance reported within the time given.
  std::string ReadFor(std::chrono::milliseconds time) {
    std::string text;
    const auto deadline = std::chrono::steady_clock::now() + time;
    while (std::chrono::steady_clock::now() < deadline) {
      pollfd ready{FRead, POLLIN, 0};
      if (::poll(&ready, 1, 20) <= 0)
        continue;
      char buffer[65536];
      const ssize_t got = ::read(FRead, buffer, sizeof buffer);
      if (got <= 0)
        break;
      text.append(buffer, static_cast<std::size_t>(got));
      if (text == "R" || text.ends_with("|\n"))
        break;
    }
    return text;
  }

private:
  [[noreturn]] static void RunChild(const std::string& folder, bool active, int holdFd, int out) {
    TOneInstance first(kScope, folder);
    first.CheckInstance({});
    first.SetActive(active);
    first.OnBringToFront = [out](TOneInstance&, const std::string& token) {
      const std::string line = "front " + token + "\n";
      (void)!::write(out, line.data(), line.size());
    };
    first.OnInstanceStarted = [out, holdFd](TOneInstance&, const std::vector<std::string>& params) {
      std::string record;
      for (const std::string& param : params)
        record += param + "\n";
      record += "|\n";
      (void)!::write(out, record.data(), record.size());
      char ignored;
      if (holdFd >= 0)
        (void)!::read(holdFd, &ignored, 1);
    };
    // An active one that is not the first instance would take no hand-overs.
    (void)!::write(out, !active || first.IsFirstInstance() ? "R" : "X", 1);
    for (;;) {
      pollfd ready{first.HandOverNotice(), POLLIN, 0};
      if (::poll(&ready, 1, -1) > 0)
        first.ReceiveHandOver();
    }
  }
  pid_t FPid = -1;
  int FRead = -1;
};

class OneInstance : public ::testing::Test {
protected:
  // A later start in this process; one at a time, as components are.
  std::unique_ptr<TOneInstance> Start(const std::vector<std::string>& params,
                                      const std::string& token = {}) {
    auto later = std::make_unique<TOneInstance>(kScope, Runtime.Path());
    later->HandOverTimeout = std::chrono::seconds(3);
    later->CheckInstance(params, token);
    return later;
  }
  // Sends raw bytes to the first instance's socket, as any program could.
  static bool SendRaw(const std::string& socketPath, const std::string& bytes) {
    const int fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, socketPath.c_str(), sizeof address.sun_path - 1);
    const int room = static_cast<int>(bytes.size() * 2);
    ::setsockopt(fd, SOL_SOCKET, SO_SNDBUFFORCE, &room, sizeof room);
    ::setsockopt(fd, SOL_SOCKET, SO_SNDBUF, &room, sizeof room);
    const bool sent =
        ::sendto(fd, bytes.data(), bytes.size(), 0, reinterpret_cast<const sockaddr*>(&address),
                 sizeof address) == static_cast<ssize_t>(bytes.size());
    ::close(fd);
    return sent;
  }
  std::string SocketPath() const { return Runtime.Path(std::string(kScope) + ".socket"); }

  TScratchFolder Runtime; // private: mkdtemp makes it 0700
};

TEST_F(OneInstance, ALaterStartHandsOverEveryParameterWholeWithItsToken) {
  FirstInstanceProcess first(Runtime.Path());
  std::vector<std::string> params;
  for (int i = 1; i <= 12; ++i)
    params.push_back("/home/u/file" + std::to_string(i) + ".syx");
  params[1] = "/" + std::string(5000, 'x'); // longer than any one name a system takes
  params[2] = "";

  EXPECT_TRUE(Start(params, "token-of-the-start")->IsSecondInstance());
  std::string expected = "front token-of-the-start\n";
  for (const std::string& param : params)
    expected += param + "\n";
  EXPECT_EQ(first.ReadFor(std::chrono::seconds(5)), expected + "|\n");

  // Without parameters the window still hears of the start, and starts queue.
  EXPECT_TRUE(Start({})->IsSecondInstance());
  EXPECT_EQ(first.ReadFor(std::chrono::seconds(5)), "front \n|\n");
  EXPECT_TRUE(Start({"/a.syx"})->IsSecondInstance());
  EXPECT_EQ(first.ReadFor(std::chrono::seconds(5)), "front \n/a.syx\n|\n");
}

// The window answers when the parameters arrive, not when it has dealt with them:
// a window that waits for a click (the handler below never returns on its own)
// still lets every later start end at once, and then gets the parameters in order.
TEST_F(OneInstance, StartsEndWhileTheWindowIsStillBusy) {
  int hold[2];
  ASSERT_EQ(::pipe(hold), 0);
  FirstInstanceProcess first(Runtime.Path(), true, hold[0]);
  EXPECT_TRUE(Start({"/one.syx"})->IsSecondInstance());
  EXPECT_TRUE(Start({"/two.syx"})->IsSecondInstance());
  EXPECT_EQ(first.ReadFor(std::chrono::seconds(5)), "front \n/one.syx\n|\n");
  (void)!::write(hold[1], "go", 2);
  EXPECT_EQ(first.ReadFor(std::chrono::seconds(5)), "front \n/two.syx\n|\n");
  ::close(hold[0]);
  ::close(hold[1]);
}

// A window with the option off gives its place up: the next start is the first
// itself, and once its own option is on, it takes the hand-overs.
TEST_F(OneInstance, AWindowWithTheOptionOffTakesNoHandOvers) {
  FirstInstanceProcess off(Runtime.Path(), /*active=*/false);
  FirstInstanceProcess on(Runtime.Path()); // reports "R" only as the first instance
  EXPECT_TRUE(Start({"/a.syx"})->IsSecondInstance());
  EXPECT_EQ(on.ReadFor(std::chrono::seconds(5)), "front \n/a.syx\n|\n");
  EXPECT_EQ(off.ReadFor(std::chrono::milliseconds(200)), "");
}

// A start does not wait for a first instance that is gone: its lock went with it.
// (Waiting would end in running alone, not as the first instance.)
TEST_F(OneInstance, AKilledFirstInstanceIsTakenOver) {
  {
    FirstInstanceProcess first(Runtime.Path());
    first.Kill();
  }
  auto next = Start({"/a.syx"});
  EXPECT_TRUE(next->IsFirstInstance());
  EXPECT_FALSE(next->IsSecondInstance());
}

TEST_F(OneInstance, StartsOnAnotherDisplayOrWithOtherSettingsDoNotMeet) {
  const std::string scope = TOneInstance::ScopeFor("x11::0", "/home/u/.config/pelrow");
  EXPECT_EQ(scope, TOneInstance::ScopeFor("x11::0", "/home/u/.config/pelrow"));
  for (const auto& [display, settings] :
       {std::pair{"x11::1", "/home/u/.config/pelrow"},
        {"wayland:/run/user/1/wayland-0", "/home/u/.config/pelrow"},
        {"x11::0", "/home/v/.config/pelrow"},
        {"x11::0/home/u/.config", "/pelrow"}})
    EXPECT_NE(TOneInstance::ScopeFor(display, settings), scope) << display << " " << settings;

  FirstInstanceProcess first(Runtime.Path());
  TOneInstance elsewhere(TOneInstance::ScopeFor("x11::1", "/s"), Runtime.Path());
  EXPECT_TRUE(elsewhere.CheckInstance({"/a.syx"}));
  EXPECT_EQ(first.ReadFor(std::chrono::milliseconds(200)), "");
}

// Whatever stands in the way, the start runs on its own and never hangs.
TEST_F(OneInstance, WithoutAPrivatePlaceTheProgramRunsOnItsOwn) {
  const std::string lock = Runtime.Path(std::string(kScope) + ".lock");
  const std::string elsewhere = Runtime.Path("elsewhere");
  struct TCase {
    const char* Name;
    std::string Folder;
    std::function<void()> Prepare;
  };
  const std::vector<TCase> cases = {
      {"no private folder", "", [] {}},
      {"a lock file others may read", Runtime.Path(),
       [&] { ::close(::open(lock.c_str(), O_CREAT | O_RDWR, 0644)); }},
      {"a link in place of the lock", Runtime.Path(),
       [&] { std::filesystem::create_symlink(elsewhere, lock); }},
  };
  for (const TCase& c : cases) {
    std::filesystem::remove(lock);
    c.Prepare();
    TOneInstance alone(kScope, c.Folder);
    EXPECT_FALSE(alone.CheckInstance({"/a.syx"})) << c.Name;
    EXPECT_FALSE(alone.IsSecondInstance()) << c.Name;
    EXPECT_GE(alone.HandOverNotice(), 0) << c.Name;
    EXPECT_FALSE(std::filesystem::exists(elsewhere)) << c.Name;
  }
}

// Datagrams that are not a whole hand-over from a start of ours change nothing,
// and a real start after them is heard as usual.
TEST_F(OneInstance, OnlyWholeHandOversAreTaken) {
  FirstInstanceProcess first(Runtime.Path());
  for (const std::string& bytes :
       {std::string("H/no/ending/zero"), std::string("X\0/a.syx\0", 9), std::string(1, '\0')})
    EXPECT_TRUE(SendRaw(SocketPath(), bytes)) << bytes;
  // Longer than the window reads, and cut by the system where a whole hand-over
  // ends: refused all the same. Where the system cannot send that much in one
  // datagram, nobody can.
  const std::string cut = "H" + std::string(1, '\0') + "/" +
                          std::string(TOneInstance::MaxHandOverBytes - 4, 'x') + '\0';
  SendRaw(SocketPath(), cut + "/rest.syx" + '\0');
  EXPECT_EQ(first.ReadFor(std::chrono::milliseconds(300)), "");
  EXPECT_TRUE(Start({"/real.syx"})->IsSecondInstance());
  EXPECT_EQ(first.ReadFor(std::chrono::seconds(5)), "front \n/real.syx\n|\n");
}

TEST_F(OneInstance, OnlyOneComponentPerProcess) {
  TOneInstance one(kScope, Runtime.Path());
  try {
    TOneInstance two(kScope, Runtime.Path());
    FAIL() << "a second component was created";
  } catch (const EOneInstanceError& error) {
    EXPECT_STREQ(error.what(), "Drop only one of these components on your form !");
  }
}

// Another account on the machine, whatever it sends to the socket (which it could
// reach only through a descriptor it was given), neither raises the window nor
// makes it load anything, not even what a start handed over before.
TEST_F(OneInstance, AnotherUsersDatagramsAreNotHeard) {
  test::TOtherAccount other;
  if (!other.SkipReason().empty())
    GTEST_SKIP() << other.SkipReason();
  FirstInstanceProcess first(Runtime.Path());
  EXPECT_TRUE(Start({"/mine.syx"})->IsSecondInstance());
  EXPECT_EQ(first.ReadFor(std::chrono::seconds(5)), "front \n/mine.syx\n|\n");

  const int fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::strncpy(address.sun_path, SocketPath().c_str(), sizeof address.sun_path - 1);
  ASSERT_EQ(::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
  EXPECT_TRUE(other.Run([fd] {
    const std::string attack("H\0/home/attacker/evil.syx\0", 26);
    for (int i = 0; i < 1000; ++i)
      if (::send(fd, attack.data(), attack.size(), 0) != static_cast<ssize_t>(attack.size()) ||
          ::send(fd, "H", 1, 0) != 1)
        return false;
    return true;
  }));
  ::close(fd);
  EXPECT_EQ(first.ReadFor(std::chrono::milliseconds(500)), "");
  EXPECT_TRUE(Start({"/mine2.syx"})->IsSecondInstance());
  EXPECT_EQ(first.ReadFor(std::chrono::seconds(5)), "front \n/mine2.syx\n|\n");
}

// The runtime folder is used only when it is the user's alone; the fallback is
// made private, and when another account took its name first there is no place.
TEST(PrivateRuntimeFolder, OnlyAFolderOfTheUsersOwnIsUsed) {
  TScratchFolder scratch;
  const std::string runtime = scratch.Path("runtime");
  const std::string fallback = scratch.Path("fallback");
  std::filesystem::create_directory(runtime);
  ::chmod(scratch.Path().c_str(), 0755);
  ::chmod(runtime.c_str(), 0700);
  EXPECT_EQ(PrivateRuntimeFolder(runtime, fallback), runtime);
  EXPECT_FALSE(std::filesystem::exists(fallback));
  for (const std::string& unusable :
       {std::string(), std::string("relative"), scratch.Path("missing")})
    EXPECT_EQ(PrivateRuntimeFolder(unusable, fallback), fallback) << unusable;
  ::chmod(runtime.c_str(), 0750);
  EXPECT_EQ(PrivateRuntimeFolder(runtime, fallback), fallback);
  struct stat made {};
  ASSERT_EQ(::lstat(fallback.c_str(), &made), 0);
  EXPECT_EQ(made.st_mode & 0777, 0700u);
  ::chmod(fallback.c_str(), 0755);
  EXPECT_EQ(PrivateRuntimeFolder("", fallback), "");

  test::TOtherAccount other;
  if (!other.SkipReason().empty())
    GTEST_SKIP() << other.SkipReason();
  const std::string taken = scratch.Path("taken");
  const std::string linked = scratch.Path("linked");
  ::chmod(runtime.c_str(), 0700);
  ::chown(runtime.c_str(), other.Uid(), other.Gid());
  ::chmod(scratch.Path().c_str(), 0777);
  ASSERT_TRUE(other.Run([&] {
    return ::mkdir(taken.c_str(), 0700) == 0 &&
           ::symlink(scratch.Path().c_str(), linked.c_str()) == 0;
  }));
  EXPECT_EQ(PrivateRuntimeFolder(runtime, taken), ""); // neither is ours
  EXPECT_EQ(PrivateRuntimeFolder("", linked), "");
  ::chmod(scratch.Path().c_str(), 0700);
}

} // namespace
} // namespace pelrow
