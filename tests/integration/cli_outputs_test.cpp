// Where pelrow-cli writes, end to end: devices, FIFOs and standard output are
// written in place and never replaced by a file, every failed write ends the
// command with a message (a closed pipe as it ends any tool in a pipe), and an
// output that cannot be written is refused before anything is listened to, or the
// capture is saved beside it.
#include "cli_process.h"
#include "support/scratch_folder.h"

#include <gtest/gtest.h>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

namespace pelrow::testing {
namespace {

const std::vector<std::string> LoopbackRequest{
    "--midi=loopback", "request", "--out",  "Pelrow Loopback",  "--in",
    "Pelrow Loopback", "--hex",   "F0 7E 7F 06 01 F7"};
const std::string Reply("\xF0\x7E\x7F\x06\x01\xF7", 6);

std::vector<std::string> With(std::vector<std::string> args, const std::vector<std::string>& more) {
  args.insert(args.end(), more.begin(), more.end());
  return args;
}

class CliOutputs : public ::testing::Test {
protected:
  void SetUp() override { WriteWholeFile(FSyx, Reply); }
  // The names in the folder, to see that no temporary file was left.
  std::vector<std::string> Names() const {
    std::vector<std::string> names;
    DIR* dir = ::opendir(FFolder.Path().c_str());
    while (const dirent* entry = ::readdir(dir))
      if (entry->d_name[0] != '.' && std::string(entry->d_name).rfind("cli-", 0) != 0)
        names.push_back(entry->d_name);
    ::closedir(dir);
    std::sort(names.begin(), names.end());
    return names;
  }
  static bool IsCharacterDevice(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 && S_ISCHR(info.st_mode);
  }

  TScratchFolder FFolder;
  const std::string FSyx = FFolder.Path("reply.syx");
};

// A FIFO's reader gets the hex lines; the FIFO stays a FIFO. A device stays the
// device it was, whether the write succeeds (/dev/null) or fails (/dev/full, which
// only root could have replaced).
TEST_F(CliOutputs, DevicesAndFifosAreWrittenInPlace) {
  const std::string fifo = FFolder.Path("pipe");
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  std::string fromFifo;
  std::thread reader([&] { fromFifo = ReadWholeFile(fifo); });
  TCliResult result = RunCli({"convert", FSyx, fifo}, FFolder.Path());
  reader.join();
  EXPECT_EQ(result.Status, 0) << result.Err;
  EXPECT_EQ(fromFifo, "F0 7E 7F 06 01 F7\n");
  struct stat info {};
  ASSERT_EQ(::stat(fifo.c_str(), &info), 0);
  EXPECT_TRUE(S_ISFIFO(info.st_mode));

  const struct {
    std::vector<std::string> Args;
    int Status;
    std::string Err;
  } cases[] = {
      {{"convert", FSyx, "/dev/null"}, 0, ""},
      {With(LoopbackRequest, {"--quiet", "200", "-o", "/dev/null"}), 0, ""},
      {{"convert", FSyx, "/dev/full"},
       1,
       "pelrow-cli: Error while writing to /dev/full. No space left on device\n"},
  };
  for (const auto& c : cases) {
    result = RunCli(c.Args, FFolder.Path());
    EXPECT_EQ(result.Status, c.Status) << c.Args.back();
    EXPECT_EQ(result.Err, c.Err) << c.Args.back();
    EXPECT_TRUE(IsCharacterDevice(c.Args.back())) << c.Args.back();
  }
  EXPECT_EQ(Names(), (std::vector<std::string>{"pipe", "reply.syx"}));
}

// Regular files, new or old, are replaced whole: the old content until the new
// one is complete, nothing left beside them.
TEST_F(CliOutputs, RegularFilesAreReplacedWhole) {
  WriteWholeFile(FFolder.Path("old.txt"), "old content\r\n");
  for (const std::string name : {"new.txt", "old.txt"}) {
    const TCliResult result = RunCli({"convert", FSyx, FFolder.Path(name)}, FFolder.Path());
    EXPECT_EQ(result.Status, 0) << result.Err;
    EXPECT_EQ(ReadWholeFile(FFolder.Path(name)), "F0 7E 7F 06 01 F7\n");
  }
  EXPECT_EQ(Names(), (std::vector<std::string>{"new.txt", "old.txt", "reply.syx"}));
}

// Standard output that cannot take the output fails the command: a full disk is
// said, and a reader that went away ends the program as SIGPIPE ends any tool in a
// pipe (141), quietly, also where SIGPIPE is ignored (libjack's threads may block
// it) and however long the command would have run.
TEST_F(CliOutputs, FailedWritesToStandardOutputEndTheCommand) {
  const struct {
    std::vector<std::string> Args;
    int FullStatus;
  } cases[] = {
      {{"--midi=loopback", "list"}, 1},
      {{"convert", FSyx, "-"}, 1},
      {{"convert", FSyx, "/dev/stdout"}, 1},
      {With(LoopbackRequest, {"--quiet", "60000", "--timeout", "0"}), 3},
  };
  for (const auto& c : cases) {
    const std::string what = c.Args[1];
    TCliStart full;
    full.OutputPath = "/dev/full";
    // The request would wait a minute for quiet; its first write fails at once.
    const TCliResult fullResult = RunCli(c.Args, FFolder.Path(), full);
    EXPECT_EQ(fullResult.Status, c.FullStatus) << what;
    EXPECT_NE(fullResult.Err.find("Error while writing to standard output. No space left on device"),
              std::string::npos)
        << fullResult.Err;

    int pipe[2];
    ASSERT_EQ(::pipe(pipe), 0);
    ::close(pipe[0]); // nobody will read
    TCliStart closed;
    closed.OutputFd = pipe[1];
    closed.IgnorePipeSignal = true;
    TCliProcess process(c.Args, FFolder.Path(), closed);
    ::close(pipe[1]);
    const TCliResult result = process.Wait(20000);
    EXPECT_EQ(result.Status, 141) << what;
    EXPECT_EQ(result.Err, "") << what;
  }
}

// A read-only file is refused before the input is opened; one that turns
// read-only while the reply arrives gets the capture beside it, under a new name.
TEST_F(CliOutputs, ACaptureIsNeverThrownAway) {
  const std::string locked = FFolder.Path("locked.syx");
  WriteWholeFile(locked, "old");
  ::chmod(locked.c_str(), 0444);
  TCliResult result = RunCli(With(LoopbackRequest, {"-o", locked}), FFolder.Path());
  EXPECT_EQ(result.Status, 1);
  EXPECT_EQ(result.Err, "pelrow-cli: Cannot create file \"" + locked + "\". It is read-only\n");

  const std::string target = FFolder.Path("target.syx");
  WriteWholeFile(target, "old");
  TCliProcess request(With(LoopbackRequest, {"--quiet", "1500", "-o", target}), FFolder.Path());
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  ::chmod(target.c_str(), 0444);
  result = request.Wait();
  EXPECT_EQ(result.Status, 3);
  EXPECT_NE(result.Err.find("what was received was saved to " + FFolder.Path("target-1.syx") +
                            " instead"),
            std::string::npos)
      << result.Err;
  EXPECT_EQ(ReadWholeFile(target), "old");
  EXPECT_EQ(ReadWholeFile(FFolder.Path("target-1.syx")), Reply);
}

} // namespace
} // namespace pelrow::testing
