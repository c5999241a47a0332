// Command-line splitting: our options out, everything else a file name.
#include "app/command_line.h"

#include <gtest/gtest.h>

namespace pelrow {
namespace {

using Args = std::vector<std::string>;

TEST(CommandLine, OptionsAreTakenOutAndTheRestAreFileNamesInOrder) {
  const TCommandLine c =
      ParseCommandLine({"a.syx", "--midi=jack", "b c.txt", "--version", "--help", "d.mid"});
  EXPECT_EQ(c.Backend, TMidiBackendKind::Jack);
  EXPECT_TRUE(c.ShowHelp);
  EXPECT_TRUE(c.ShowVersion);
  EXPECT_EQ(c.FileNames, (Args{"a.syx", "b c.txt", "d.mid"}));
  EXPECT_EQ(c.Error, "");
}

TEST(CommandLine, EachBackendChoiceIsRecognisedAndTheLastOneWins) {
  EXPECT_EQ(ParseCommandLine({}).Backend, TMidiBackendKind::Auto);
  EXPECT_EQ(ParseCommandLine({"--midi=alsa"}).Backend, TMidiBackendKind::Alsa);
  EXPECT_EQ(ParseCommandLine({"--midi=loopback"}).Backend, TMidiBackendKind::Loopback);
  EXPECT_EQ(ParseCommandLine({"--midi=alsa", "--midi=jack"}).Backend, TMidiBackendKind::Jack);
}

TEST(CommandLine, MalformedBackendChoiceIsReportedNotTakenAsAFile) {
  for (const std::string arg : {"--midi=ALSA", "--midi=", "--midi", "--midi=coremidi"}) {
    const TCommandLine c = ParseCommandLine({arg, "x.syx"});
    EXPECT_NE(c.Error, "") << arg;
    EXPECT_EQ(c.Backend, TMidiBackendKind::Auto) << arg;
    EXPECT_EQ(c.FileNames, Args{"x.syx"}) << arg;
  }
  EXPECT_NE(ParseCommandLine({"--midi=coremidi"}).Error.find("\"coremidi\""), std::string::npos);
}

TEST(CommandLine, ShortFormsOfHelpAndVersion) {
  EXPECT_TRUE(ParseCommandLine({"-h"}).ShowHelp);
  EXPECT_TRUE(ParseCommandLine({"-v"}).ShowVersion);
  EXPECT_EQ(ParseCommandLine({"-h", "-v"}).Error, "");
}

TEST(CommandLine, AnUnknownOptionIsAnErrorNotAFile) {
  for (const std::string arg : {"--bogus", "-x", "-", "-help", "--help=1", "-hv", "---"}) {
    const TCommandLine c = ParseCommandLine({"a.syx", arg});
    EXPECT_EQ(c.Error, "unknown option \"" + arg + "\"") << arg;
    EXPECT_EQ(c.FileNames, Args{"a.syx"}) << arg;
  }
  // The first problem is the one reported.
  EXPECT_EQ(ParseCommandLine({"--midi=x", "--bogus"}).Error.rfind("unknown MIDI service", 0), 0u);
}

TEST(CommandLine, DoubleDashMakesLaterOptionsFileNames) {
  const TCommandLine c =
      ParseCommandLine({"--", "--help", "-v", "--midi=jack", "-", "--bogus", "--"});
  EXPECT_FALSE(c.ShowHelp);
  EXPECT_FALSE(c.ShowVersion);
  EXPECT_EQ(c.Error, "");
  EXPECT_EQ(c.Backend, TMidiBackendKind::Auto);
  EXPECT_EQ(c.FileNames, (Args{"--help", "-v", "--midi=jack", "-", "--bogus", "--"}));
}

TEST(CommandLine, UsageNamesTheProgramAndEveryOption) {
  const std::string usage = UsageText("pelrow");
  EXPECT_EQ(usage.rfind("Usage: pelrow ", 0), 0u);
  for (const char* option : {"--midi=alsa|jack|loopback", "-h, --help", "-v, --version", "--  "})
    EXPECT_NE(usage.find(option), std::string::npos) << option;
}

// A start hands its names to a window working in another folder, and the
// recent-files list keeps them: they are made absolute against the start's folder.
TEST(CommandLine, FileNamesAreMadeAbsoluteAgainstTheStartsFolder) {
  const std::vector<std::string> given = {"x.syx",      "./y.syx", "sub/../z.mid",
                                          "/abs/a.syx", "",        "-odd"};
  EXPECT_EQ(AbsoluteFileNames(given, "/home/u/dumps"),
            (std::vector<std::string>{"/home/u/dumps/x.syx", "/home/u/dumps/y.syx",
                                      "/home/u/dumps/sub/../z.mid", "/abs/a.syx", "",
                                      "/home/u/dumps/-odd"}));
  EXPECT_EQ(AbsoluteFileNames({"x.syx"}, "/"), std::vector<std::string>{"/x.syx"});
  EXPECT_EQ(AbsoluteFileNames(given, ""), given); // the folder could not be named
}

} // namespace
} // namespace pelrow
