// pelrow-cli check and convert --split end to end: the built program on dumps shaped
// as devices send them, its output as a script reads it, its exit status, and
// files that are never replaced behind the user's back.
#include "cli_process.h"
#include "support/scratch_folder.h"

#include "app/dump_samples.h"
#include "app/line_formatter.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

namespace pelrow::testing {
namespace {

using namespace pelrow::test;

std::string Raw(const TBytes& bytes) {
  return {bytes.begin(), bytes.end()};
}

std::string Raw(const std::string& hexLine) {
  std::string bytes;
  for (size_t i = 0; i + 1 < hexLine.size(); i += 3)
    bytes.push_back(static_cast<char>(std::stoi(hexLine.substr(i, 2), nullptr, 16)));
  return bytes;
}

class CliCheck : public ::testing::Test {
protected:
  std::string Write(const std::string& name, const std::string& bytes) {
    WriteWholeFile(FFolder.Path(name), bytes);
    return FFolder.Path(name);
  }
  TScratchFolder FFolder;
};

TEST_F(CliCheck, ReportsEachMessageAndEachProblemAndFailsOnAny) {
  const std::string dump = Write("dump.syx", Raw(GsReset) + Raw(GsResetBadSum) +
                                                 Raw(YamahaVoiceDump()) + Raw(RolandIdentityReply));
  const std::string received = Write(
      "received.txt", "F0 7E 7F 06 01 F7\r\nF0 41 10 42 12 40\r\n; damaged: 5 bytes lost\r\n");
  const std::string clean = Write("clean.syx", Raw(GsReset));

  TCliResult result = RunCli({"check", dump, received}, FFolder.Path());
  EXPECT_EQ(result.Status, 1) << result.Err;
  EXPECT_EQ(result.Out,
            dump + ":1: #1, 11 bytes, System Exclusive, Roland (41), device 10, DT1\n" + dump +
                ":2: #2, 11 bytes, System Exclusive, Roland (41), device 10, DT1\n" + dump +
                ":2: checksum error in message 2 (DT1): checksum 42, should be 41\n" + dump +
                ":3: #3, 163 bytes, System Exclusive, Yamaha (43), device 00, Bulk Dump\n" + dump +
                ":4: #4, 15 bytes, System Exclusive, Universal Non-Real-Time (7E), device 10, "
                "General Information: Identity Reply from Roland\n" +
                dump +
                ": 4 messages, Roland, Yamaha, Universal Non-Real-Time, 1 checksum error: "
                "line 2\n" +
                received +
                ":1: #1, 6 bytes, System Exclusive, Universal Non-Real-Time (7E), device "
                "7F, General Information: Identity Request\n" +
                received + ":2: #2, 6 bytes, System Exclusive, Roland (41), device 10, DT1\n" +
                received + ":3: message 2 is marked damaged\n" + received +
                ": 2 messages, Universal Non-Real-Time, Roland, 1 damaged message: line 3\n");

  result = RunCli({"check", "--quiet", dump, clean}, FFolder.Path());
  EXPECT_EQ(result.Status, 1);
  EXPECT_EQ(result.Out,
            dump + ":2: checksum error in message 2 (DT1): checksum 42, should be 41\n");

  // Standard input takes raw bytes as well as hex text; a clean dump exits 0.
  result = RunCli({"check", "--quiet", "-"}, FFolder.Path(), Raw(YamahaVoiceDump()));
  EXPECT_EQ(result.Status, 0) << result.Out;
  EXPECT_EQ(result.Out, "");
  result = RunCli({"check", "-"}, FFolder.Path(), IdentityRequest + "\n");
  EXPECT_EQ(result.Status, 0);
  EXPECT_EQ(result.Out.substr(result.Out.rfind('\n', result.Out.size() - 2) + 1),
            "standard input: 1 message, Universal Non-Real-Time, no problems found\n");

  result = RunCli({"check", "--json", "--quiet", received}, FFolder.Path());
  EXPECT_EQ(result.Status, 1);
  EXPECT_NE(result.Out.find("{\"kind\": \"damaged\", \"line\": 3, \"offset\": 12, \"message\": 2, "
                            "\"text\": \"message 2 is marked damaged\"}"),
            std::string::npos)
      << result.Out;
  EXPECT_EQ(result.Out.find("\"messages\""), std::string::npos);

  // A file that cannot be read is a problem too, named on standard error.
  result = RunCli({"check", FFolder.Path("missing.syx"), clean}, FFolder.Path());
  EXPECT_EQ(result.Status, 1);
  EXPECT_NE(result.Err.find("missing.syx"), std::string::npos);
  EXPECT_NE(result.Out.find("clean.syx: 1 message, Roland, no problems found"), std::string::npos);
}

// A backup script's "is it sound" step: nothing to keep, or a capture the receive
// path marked, never passes as sound.
TEST_F(CliCheck, FailsEmptyAndMarkedCapturesAndWarnsOfInterruptions) {
  const std::string interrupted = std::string(MayBeLostMarkLine) + "\n";
  const std::string mayBeText =
      ": may be incomplete: the MIDI system was interrupted here while receiving\n";
  struct TCase {
    const char* Name;
    std::string File; // "-" reads Content from standard input
    std::string Content;
    int Status;
    std::string Out; // with --quiet; FILE stands for the name
  };
  const TCase cases[] = {
      {"an empty file", "empty.syx", "", 1, "FILE: holds no MIDI messages\n"},
      {"/dev/null", "/dev/null", "", 1, "FILE: holds no MIDI messages\n"},
      {"comments only", "notes.txt", "; synth backup\n\n// nothing came\n", 1,
       "FILE: holds no MIDI messages\n"},
      {"three zero bytes on standard input", "-", std::string(3, '\0'), 1,
       "FILE: holds no MIDI messages\n"},
      {"three zero bytes in a .syx", "zeros.syx", std::string(3, '\0'), 1,
       "FILE:1: 3 bytes outside any message\nFILE: holds no MIDI messages\n"},
      {"a capture of which all input was lost", "lost.txt",
       std::string(LostUncountedMarkLine) + "\n", 1,
       "FILE:1: input was lost here\nFILE: holds no MIDI messages\n"},
      {"a message cut short, marked so by the receive path", "cut.txt",
       "F0 41 10 42 12 40 00\n" + std::string(CutMarkLine) + "\n" + IdentityRequest + "\n", 1,
       "FILE:2: message 1 is marked damaged\n"},
      {"an interruption only", "interrupted.txt", GsReset + "\n" + interrupted + GsReset + "\n", 4,
       "FILE:2" + mayBeText},
      {"an interruption and a checksum error", "bad.txt",
       interrupted + GsResetBadSum + "\n" + interrupted, 1,
       "FILE:1" + mayBeText +
           "FILE:2: checksum error in message 1 (DT1): checksum 42, should be "
           "41\nFILE:3" +
           mayBeText},
      {"a sound capture", "sound.txt", "; received\n" + GsReset + "\nF8\n", 0, ""},
  };
  for (const TCase& c : cases) {
    const bool standardInput = c.File == "-";
    const std::string path =
        standardInput || c.File.starts_with('/') ? c.File : Write(c.File, c.Content);
    const std::string name = standardInput ? "standard input" : path;
    const TCliResult result =
        RunCli({"check", "--quiet", path}, FFolder.Path(), standardInput ? c.Content : "");
    EXPECT_EQ(result.Status, c.Status) << c.Name << "\n" << result.Out << result.Err;
    std::string expected = c.Out;
    for (size_t at = expected.find("FILE"); at != std::string::npos;
         at = expected.find("FILE", at + name.size()))
      expected.replace(at, 4, name);
    EXPECT_EQ(result.Out, expected) << c.Name;
  }

  // Over several files the worst one counts; --json names each kind apart.
  EXPECT_EQ(RunCli({"check", "--quiet", FFolder.Path("interrupted.txt"), FFolder.Path("sound.txt")},
                   FFolder.Path())
                .Status,
            4);
  const TCliResult result = RunCli(
      {"check", "--json", "--quiet", FFolder.Path("interrupted.txt"), "/dev/null"}, FFolder.Path());
  EXPECT_EQ(result.Status, 1);
  EXPECT_NE(result.Out.find("{\"kind\": \"may-be-incomplete\", \"line\": 2, \"offset\": 11, "
                            "\"message\": null, \"text\": \"may be incomplete: the MIDI system "
                            "was interrupted here while receiving\"}"),
            std::string::npos)
      << result.Out;
  EXPECT_NE(result.Out.find("{\"kind\": \"no-messages\", \"line\": null, \"offset\": 0, "
                            "\"message\": null, \"text\": \"holds no MIDI messages\"}"),
            std::string::npos)
      << result.Out;
}

TEST_F(CliCheck, ConvertSplitWritesOneFilePerMessageAndNeverReplacesOne) {
  const std::string dump =
      Write("dump.syx", Raw(GsReset) + Raw("90 3C 7F") + Raw(YamahaVoiceDump()) +
                            Raw(IdentityRequest) + Raw("F0 00 21 09 01 F7"));
  const std::string folder = FFolder.Path("patches");
  TCliResult result = RunCli({"convert", "--split", folder, dump}, FFolder.Path());
  ASSERT_EQ(result.Status, 0) << result.Err;
  const std::vector<std::pair<std::string, std::string>> expected{
      {"0001-Roland.syx", Raw(GsReset)},
      {"0002-Yamaha.syx", Raw(YamahaVoiceDump())},
      {"0003-Universal-Non-Real-Time.syx", Raw(IdentityRequest)},
      {"0004.syx", Raw("F0 00 21 09 01 F7")}};
  size_t files = 0;
  for (const auto& entry : std::filesystem::directory_iterator(folder))
    files += entry.is_regular_file();
  EXPECT_EQ(files, expected.size());
  for (const auto& [name, bytes] : expected)
    EXPECT_EQ(ReadWholeFile(folder + "/" + name), bytes) << name;

  // A second run would replace them: it refuses and writes nothing.
  WriteWholeFile(folder + "/0002-Yamaha.syx", "edited");
  result = RunCli({"convert", "--split", folder, dump}, FFolder.Path());
  EXPECT_EQ(result.Status, 1);
  EXPECT_EQ(result.Err, "pelrow-cli: " + folder +
                            "/0001-Roland.syx already exists (4 of the files to write exist; "
                            "nothing was written)\n");
  EXPECT_EQ(ReadWholeFile(folder + "/0002-Yamaha.syx"), "edited");
}

} // namespace
} // namespace pelrow::testing
