// The program started as a user starts it: options, and a start without a usable
// display, end with a clear line and a status instead of a window or an abort.
#include "app/qt/display_probes.h"

#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <sys/wait.h>
#include <unistd.h>

namespace pelrow {
namespace {

struct TRun {
  int Status = -1; // the exit status, or 128 + signal
  std::string Out;
  std::string Err;
};

std::string ReadAll(int fd) {
  std::string text;
  char chunk[4096];
  for (ssize_t got; (got = ::read(fd, chunk, sizeof chunk)) > 0;)
    text.append(chunk, static_cast<std::size_t>(got));
  ::close(fd);
  return text;
}

// Runs the program with exactly the environment given.
TRun RunProgram(std::vector<std::string> args, std::vector<std::string> environment) {
  int out[2];
  int err[2];
  if (::pipe(out) != 0 || ::pipe(err) != 0)
    return {};
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::dup2(out[1], 1);
    ::dup2(err[1], 2);
    ::close(out[0]);
    ::close(err[0]);
    args.insert(args.begin(), PELROW_PROGRAM_FILE);
    std::vector<char*> argv;
    for (std::string& arg : args)
      argv.push_back(arg.data());
    argv.push_back(nullptr);
    std::vector<char*> envp;
    for (std::string& entry : environment)
      envp.push_back(entry.data());
    envp.push_back(nullptr);
    ::alarm(20); // a program that waits for ever fails instead of hanging the run
    ::execve(argv[0], argv.data(), envp.data());
    ::_exit(127);
  }
  ::close(out[1]);
  ::close(err[1]);
  TRun run;
  run.Out = ReadAll(out[0]);
  run.Err = ReadAll(err[0]);
  int status = 0;
  ::waitpid(pid, &status, 0);
  run.Status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  return run;
}

// An X display number that no server on this machine uses.
std::string UnusedDisplay() {
  for (int n = 90; n < 190; ++n) {
    const std::string display = ":" + std::to_string(n);
    if (!std::filesystem::exists("/tmp/.X11-unix/X" + std::to_string(n)) &&
        !XServerAnswers(display))
      return display;
  }
  return ":189";
}

const std::vector<std::string> kBaseEnvironment = {"HOME=/nonexistent",
                                                   "XDG_CONFIG_HOME=/nonexistent/config"};

std::vector<std::string> With(std::vector<std::string> extra) {
  extra.insert(extra.end(), kBaseEnvironment.begin(), kBaseEnvironment.end());
  return extra;
}

TEST(ProgramStart, AnUnreachableDisplayEndsWithOneLineAndStatusOne) {
  const std::string display = UnusedDisplay();
  const TRun x = RunProgram({}, With({"DISPLAY=" + display}));
  EXPECT_EQ(x.Status, 1);
  EXPECT_EQ(x.Err, "pelrow: cannot open display " + display + "\n");

  const TRun wayland =
      RunProgram({"a.syx"}, With({"WAYLAND_DISPLAY=wayland-77", "XDG_RUNTIME_DIR=/nonexistent"}));
  EXPECT_EQ(wayland.Status, 1);
  EXPECT_EQ(wayland.Err, "pelrow: cannot open display wayland-77\n");

  const TRun none = RunProgram({}, With({}));
  EXPECT_EQ(none.Status, 1);
  EXPECT_EQ(none.Err,
            "pelrow: no display found (DISPLAY and WAYLAND_DISPLAY are unset); pelrow needs a "
            "graphical desktop\n");
}

TEST(ProgramStart, UnknownOptionsAreRefusedWithTheUsageAndStatusTwo) {
  for (const char* option : {"--bogus", "-x", "--midi=coremidi"}) {
    const TRun run = RunProgram({"song.syx", option}, With({"QT_QPA_PLATFORM=offscreen"}));
    EXPECT_EQ(run.Status, 2) << option;
    EXPECT_EQ(run.Err.rfind("pelrow: unknown ", 0), 0u) << run.Err;
    EXPECT_NE(run.Err.find("\n\nUsage: pelrow "), std::string::npos) << run.Err;
    EXPECT_EQ(run.Out, "");
  }
}

TEST(ProgramStart, ShortHelpAndVersionNeedNoDisplay) {
  const TRun help = RunProgram({"-h"}, With({}));
  EXPECT_EQ(help.Status, 0);
  EXPECT_EQ(help.Out.rfind("Usage: pelrow ", 0), 0u) << help.Out;
  const TRun version = RunProgram({"-v"}, With({}));
  EXPECT_EQ(version.Status, 0);
  EXPECT_EQ(version.Out.rfind("Vesk's Pelrow ", 0), 0u) << version.Out;
}

} // namespace
} // namespace pelrow
