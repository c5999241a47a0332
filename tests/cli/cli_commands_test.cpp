// The small rules every command keeps: errors in one line, outputs checked before
// any work is done.
#include "cli/cli_commands.h"
#include "cli/output_file.h"

#include "support/scratch_folder.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <thread>

namespace pelrow::cli {
namespace {

TEST(CliCommands, DeviceMessagesBecomeOneLine) {
  EXPECT_EQ(OneLine("Cannot open MIDI output device \"A\":\r\nThe device is busy"),
            "Cannot open MIDI output device \"A\": The device is busy");
  EXPECT_EQ(OneLine("one\n\ntwo\r\n"), "one two");
  EXPECT_EQ(OneLine("plain"), "plain");
}

TEST(CliCommands, AnOutputFileIsCheckedBeforeAnythingHappens) {
  TScratchFolder folder;
  std::string error;
  EXPECT_TRUE(CheckOutputFile(folder.Path("new.syx"), error));
  EXPECT_FALSE(CheckOutputFile(folder.Path(), error));
  EXPECT_EQ(error, "Cannot create file \"" + folder.Path() + "\". Is a directory");
  EXPECT_FALSE(CheckOutputFile(folder.Path("none/new.syx"), error));
  EXPECT_EQ(error, "Cannot create file \"" + folder.Path("none/new.syx") +
                       "\". No such file or directory");
}

// A capture's lines wait for a reader that takes nothing, without holding up the
// one who adds them, up to the limit; all of them reach the reader once it reads.
TEST(CliCommands, StandardOutputsLinesWaitForAPausedReaderUpToTheLimit) {
  int pipe[2];
  ASSERT_EQ(::pipe(pipe), 0);
  TOutputTarget output;
  output.OpenDescriptor(pipe[1]);
  constexpr std::size_t Limit = 1 << 20;
  const std::string line(99, 'A');
  std::size_t added = 0;
  {
    TOutputWriter writer(output, Limit);
    while (!writer.Full()) {
      writer.Add(line);
      ASSERT_TRUE(writer.Flush());
      added += line.size() + 1;
    }
    // The pipe and the output's buffer took a little; the rest waits.
    EXPECT_LE(added, Limit + 2 * 65536);
    std::string read;
    std::thread reader([&] {
      char buffer[65536];
      for (ssize_t got; (got = ::read(pipe[0], buffer, sizeof buffer)) > 0;)
        read.append(buffer, std::size_t(got));
    });
    writer.Finish();
    ::close(pipe[1]);
    reader.join();
    ::close(pipe[0]);
    EXPECT_EQ(read.size(), added);
    EXPECT_EQ(read.find_first_not_of("A\n"), std::string::npos);
  }
}

} // namespace
} // namespace pelrow::cli
