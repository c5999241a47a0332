// Reading pelrow-cli's command line: what each command takes, in which order its
// sources go out, and the one line a mistake gets.
#include "cli/cli_options.h"

#include "app/send_rate.h"
#include "support/scratch_folder.h"

#include <gtest/gtest.h>

#include <cmath>

namespace pelrow::cli {
namespace {

TCliOptions Parse(std::vector<std::string> args) {
  return ParseCliArguments(args);
}

std::vector<std::string> Items(const TCliOptions& options) {
  std::vector<std::string> items;
  for (const TSendItem& item : options.SendItems)
    items.push_back((item.Kind == TSendItem::TKind::Hex             ? "hex:"
                     : item.Kind == TSendItem::TKind::StandardInput ? "stdin:"
                                                                    : "file:") +
                    item.Text);
  return items;
}

TEST(CliOptions, SendTakesItsSourcesInTheOrderNamed) {
  const TCliOptions options =
      Parse({"--midi=jack", "send", "--out=Synth", "a.syx", "--hex", "F0 01 F7", "-", "--speed",
             "-200", "--gap=150", "--", "-odd.syx", "-"});
  ASSERT_EQ(options.Error, "");
  EXPECT_EQ(options.Command, TCommand::Send);
  EXPECT_EQ(options.Backend, TMidiBackendKind::Jack);
  EXPECT_EQ(options.OutPort, "Synth");
  EXPECT_EQ(options.Speed, -200);
  EXPECT_EQ(options.GapMs, 150u);
  // After "--" even "-" is a file name.
  EXPECT_EQ(Items(options), (std::vector<std::string>{"file:a.syx", "hex:F0 01 F7", "stdin:-",
                                                      "file:-odd.syx", "file:-"}));
}

TEST(CliOptions, CapturingCommandsAndTheirDefaults) {
  TCliOptions options = Parse({"--midi", "loopback", "--name", "backup", "receive", "--in",
                               "Synth", "-o", "x.txt", "--quiet", "500", "--count=3", "--timeout",
                               "0", "--idle", "5", "--timestamps", "--split", "16", "--sysex-only",
                               "--active-sensing", "--clock"});
  ASSERT_EQ(options.Error, "");
  EXPECT_EQ(options.Backend, TMidiBackendKind::Loopback);
  EXPECT_EQ(options.ClientName, "backup");
  EXPECT_EQ(options.IdleMs, 5000u);
  EXPECT_TRUE(options.Timestamps);
  EXPECT_EQ(options.InPort, "Synth");
  EXPECT_EQ(options.OutputFile, "x.txt");
  EXPECT_EQ(options.QuietMs, 500u);
  EXPECT_EQ(options.Count, 3);
  EXPECT_EQ(options.TimeoutMs, 0u);
  EXPECT_EQ(options.Split, 16);
  EXPECT_TRUE(options.SysExOnly && options.ActiveSensing && options.Clock);

  // A plain receive runs until stopped; a request ends by itself.
  options = Parse({"receive", "--in", "Synth", "-o", "-"});
  EXPECT_EQ(options.OutputFile, "");
  EXPECT_EQ(options.QuietMs, 0u);
  EXPECT_EQ(options.TimeoutMs, 0u);
  options = Parse({"request", "--out", "A", "--in", "B", "--hex", "F0 7E F7"});
  ASSERT_EQ(options.Error, "");
  // A reply is awaited for a while, then taken whole however long it takes.
  EXPECT_EQ(options.QuietMs, DefaultRequestQuietMs);
  EXPECT_EQ(options.IdleMs, DefaultRequestIdleMs);
  EXPECT_EQ(options.TimeoutMs, 0u);
  EXPECT_EQ(options.Speed, DefaultSendSpeed);
  EXPECT_EQ(Items(options), std::vector<std::string>{"hex:F0 7E F7"});
  // A request may be given in pieces; a switch given twice is the same switch.
  options = Parse({"request", "--out", "A", "--in", "B", "--hex", "F0 7E", "--sysex-only", "--hex",
                   "F7", "--sysex-only"});
  ASSERT_EQ(options.Error, "");
  EXPECT_EQ(Items(options), (std::vector<std::string>{"hex:F0 7E", "hex:F7"}));
  EXPECT_EQ(Parse({"send", "--out", "A", "a.syx"}).Speed, 0) << "the cable's pace";

  options = Parse({"convert", "--split", "8", "in.syx", "out.txt"});
  ASSERT_EQ(options.Error, "");
  EXPECT_EQ(options.ConvertIn, "in.syx");
  EXPECT_EQ(options.ConvertOut, "out.txt");
  EXPECT_EQ(options.Split, 8);
}

// --quiet and --split mean something else to check and to convert with IN alone.
TEST(CliOptions, CheckAndSplittingTakeTheirOwnForms) {
  TCliOptions options = Parse({"check", "--quiet", "a.syx", "-", "--json", "b.mid"});
  ASSERT_EQ(options.Error, "");
  EXPECT_TRUE(options.QuietCheck && options.Json);
  EXPECT_EQ(options.QuietMs, 0u);
  EXPECT_EQ(Items(options), (std::vector<std::string>{"file:a.syx", "stdin:-", "file:b.mid"}));

  options = Parse({"convert", "--split", "patches", "dump.syx"});
  ASSERT_EQ(options.Error, "");
  EXPECT_EQ(options.SplitFolder, "patches");
  EXPECT_EQ(options.ConvertIn, "dump.syx");
  EXPECT_EQ(options.Split, 0);
}

TEST(CliOptions, HelpAndVersionNeedNothingElse) {
  TCliOptions options = Parse({"send", "--help"});
  EXPECT_TRUE(options.ShowHelp);
  EXPECT_EQ(options.Command, TCommand::Send);
  EXPECT_NE(HelpText(options.Command).find("Usage: pelrow-cli send --out PORT"), std::string::npos);
  options = Parse({"-h"});
  EXPECT_TRUE(options.ShowHelp);
  EXPECT_EQ(options.Command, TCommand::None);
  EXPECT_TRUE(Parse({"--version"}).ShowVersion);
}

TEST(CliOptions, EveryMistakeHasItsOneLine) {
  const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
      {{}, "no command given (use list, send, receive, request, convert or check)"},
      {{"sned"}, "unknown command \"sned\" (use list, send, receive, request, convert or check)"},
      {{"list", "--verbose"}, "unknown option \"--verbose\""},
      {{"list", "--json=yes"}, "unknown option \"--json=yes\""},
      {{"list", "--out", "A"}, "list does not take --out"},
      {{"list", "extra"}, "list takes no file names, not \"extra\""},
      {{"send", "a.syx"}, "send needs --out PORT"},
      {{"send", "--out", "A"}, "send needs files, \"-\" or --hex"},
      {{"send", "--out", "A", "-", "-"}, "\"-\" can be read only once"},
      {{"send", "--out"}, "--out needs a value"},
      {{"send", "--out", "A", "--speed", "1001", "a.syx"},
       "--speed takes a whole number from -1000 to 1000, not \"1001\""},
      {{"send", "--out", "A", "--speed", "fast", "a.syx"},
       "--speed takes a whole number from -1000 to 1000, not \"fast\""},
      {{"send", "--out", "A", "--speed", "0", "--rate", "3125", "a.syx"},
       "--speed and --rate exclude each other"},
      {{"receive", "--in", "A", "--quiet", "0"},
       "--quiet takes a whole number from 1 to 2147483647, not \"0\""},
      {{"receive", "--in", "A", "-o", "dump.MID"}, "dump.MID: .mid files can be read, not written"},
      {{"receive", "--in", "A", "dump.syx"}, "receive takes no file names, not \"dump.syx\""},
      {{"request", "--out", "A", "--in", "B"}, "request needs --hex \"F0 ... F7\""},
      {{"request", "--out", "A", "--hex", "F0 F7"}, "request needs --in PORT"},
      {{"convert", "a.syx"}, "convert needs IN and OUT, or --split DIR and IN"},
      {{"convert", "--split", "parts", "a.syx", "b.txt"},
       "--split takes a whole number from 1 to 2147483647, not \"parts\""},
      {{"check"}, "check needs files or \"-\""},
      {{"check", "-", "a.syx", "-"}, "\"-\" can be read only once"},
      {{"check", "--split", "4", "a.syx"}, "check does not take --split"},
      {{"convert", "a.syx", "b.mid"}, "b.mid: .mid files can be read, not written"},
      {{"list", "--midi=oss"}, "unknown MIDI service \"oss\" (use alsa, jack or loopback)"},
      {{"--midi", "oss", "list"}, "unknown MIDI service \"oss\" (use alsa, jack or loopback)"},
      {{"convert", "--name", "x", "a.syx", "b.txt"}, "convert does not take --name"},
      {{"receive", "--in", "A", "--idle", "0"},
       "--idle takes a whole number from 1 to 2147483, not \"0\""},
      {{"receive", "--in", "A", "--timestamps", "-o", "dump.syx"},
       "--timestamps writes comment lines, which a .syx file cannot hold; use .txt"},
      // A value given twice would silently replace the first.
      {{"receive", "--in", "A", "--in", "B"}, "--in may be given only once"},
      {{"receive", "--in", "A", "-o", "x.syx", "--output=y.syx"},
       "--output may be given only once"},
      {{"receive", "--in", "A", "--output", "x.syx", "-o", "x.syx"}, "-o may be given only once"},
      {{"receive", "--in", "A", "--quiet", "1", "--quiet=2"}, "--quiet may be given only once"},
      {{"request", "--out", "A", "--in", "B", "--hex", "F0 F7", "--count", "1", "--count", "1"},
       "--count may be given only once"},
      {{"--midi=jack", "send", "--midi", "alsa", "--out", "A", "a.syx"},
       "--midi may be given only once"},
      {{"--name", "a", "--name", "b", "list"}, "--name may be given only once"},
  };
  for (const auto& [args, error] : cases) {
    const std::string joined = ::testing::PrintToString(args);
    EXPECT_EQ(Parse(args).Error, error) << joined;
  }
  const std::string rate = Parse({"send", "--out", "A", "--rate", "50", "a.syx"}).Error;
  EXPECT_EQ(rate, "--rate takes " + std::to_string(LowestRate()) + " to " +
                      std::to_string(HighestRate()) + " bytes per second, not 50");
}

// The speed a rate turns into paces within a rounding step of that rate.
TEST(CliOptions, RatesMapOntoTheWindowsSpeedScale) {
  int speed = 1;
  ASSERT_TRUE(SpeedForRate(3125, speed));
  EXPECT_EQ(speed, 0);
  ASSERT_TRUE(SpeedForRate(LowestRate(), speed));
  EXPECT_LE(speed, SendSpeedMin + 1);
  ASSERT_TRUE(SpeedForRate(HighestRate(), speed));
  EXPECT_EQ(speed, SendSpeedMax - 1); // the top of the scale sends unpaced
  EXPECT_FALSE(SpeedForRate(LowestRate() - 1, speed));
  EXPECT_FALSE(SpeedForRate(HighestRate() + 1, speed));
  for (int64_t rate : {400, 1000, 2500, 9999, 20000}) {
    ASSERT_TRUE(SpeedForRate(rate, speed));
    const double paced = 1000.0 / (WireMsPerByte * SendSpeedFactor(speed));
    EXPECT_NEAR(paced, double(rate), rate * 0.0012) << rate;
  }
}

// The README shows the program's help as the program prints it.
TEST(CliOptions, TheReadmeShowsTheHelpAsItIs) {
  const std::string readme = ReadWholeFile(PELROW_README);
  EXPECT_NE(readme.find(HelpText(TCommand::None)), std::string::npos);
}

} // namespace
} // namespace pelrow::cli
