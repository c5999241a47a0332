#include "support/web_link.h"

#include "support/scratch_folder.h"

#include <chrono>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <thread>

namespace pelrow {
namespace {

using Params = std::vector<std::string>;

TBrowserCommand Parsed(const std::string& exec) {
  TBrowserCommand command;
  EXPECT_TRUE(ParseBrowserCommand(exec, command)) << exec;
  return command;
}

TEST(BrowserCommand, QuotedProgramAndFieldCodeBecomeOneArgumentEach) {
  const TBrowserCommand command = Parsed(R"("/opt/My Browser/browser" "%u")");
  EXPECT_EQ(command.BrowserPath, "/opt/My Browser/browser");
  EXPECT_EQ(command.BrowserParams, Params{"%s"});
}

TEST(BrowserCommand, ProgramAloneTakesTheAddressAsItsOnlyParameter) {
  const TBrowserCommand command = Parsed("firefox-esr");
  EXPECT_EQ(command.BrowserPath, "firefox-esr");
  EXPECT_EQ(command.BrowserParams, Params{"%s"});
}

TEST(BrowserCommand, FieldCodesAndOtherParametersKeepTheirPlaces) {
  EXPECT_EQ(Parsed("env BROWSER_PROFILE=a.exe /usr/bin/browser --new-window %U").BrowserParams,
            (Params{"BROWSER_PROFILE=a.exe", "/usr/bin/browser", "--new-window", "%s"}));
  EXPECT_EQ(Parsed("browser --url=%u").BrowserParams, Params{"--url=%s"});
  // Icon, caption and entry-location codes stand for nothing here.
  EXPECT_EQ(Parsed("browser %i %c %k %f").BrowserParams, Params{"%s"});
  // A literal percent sign stays one and is never taken for the address.
  EXPECT_EQ(Parsed("browser --zoom=100%% %u").BrowserParams, (Params{"--zoom=100%%", "%s"}));
  EXPECT_EQ(Parsed(R"(browser\s--private)").BrowserParams, (Params{"--private", "%s"}));
}

TEST(BrowserCommand, UnusableExecLinesAreRefused) {
  TBrowserCommand command;
  EXPECT_FALSE(ParseBrowserCommand("", command));
  EXPECT_FALSE(ParseBrowserCommand("   ", command));
  EXPECT_FALSE(ParseBrowserCommand(R"("/opt/browser %u)", command));
  EXPECT_FALSE(ParseBrowserCommand(R"("" %u)", command));
}

class BrowserLookup : public ::testing::Test {
protected:
  void Write(const std::string& relative, const std::string& text) {
    const std::string path = FScratch.Path(relative);
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    std::ofstream(path) << text;
  }
  void Entry(const std::string& dataDir, const std::string& id, const std::string& exec) {
    Write(dataDir + "/applications/" + id,
          "[Desktop Entry]\nType=Application\nName=B\n[Desktop Action new]\nExec=wrong\n"
          "[Desktop Entry]\nExec=" +
              exec + "\n");
  }
  TXdgDirs Dirs() {
    return {{FScratch.Path("config"), FScratch.Path("sysconfig")},
            {FScratch.Path("data"), FScratch.Path("sysdata")}};
  }
  TScratchFolder FScratch;
};

TEST_F(BrowserLookup, TheUsersHttpHandlerComesFirst) {
  Entry("sysdata", "system.desktop", "system-browser %u");
  Entry("data", "mine.desktop", "my-browser --new-tab %u");
  Write("sysconfig/mimeapps.list",
        "[Default Applications]\nx-scheme-handler/http=system.desktop\n");
  Write("config/mimeapps.list",
        "[Added Associations]\nx-scheme-handler/http=system.desktop\n"
        "[Default Applications]\nx-scheme-handler/http=missing.desktop;mine.desktop;\n");
  TBrowserCommand command;
  ASSERT_TRUE(FindBrowser(Dirs(), command));
  EXPECT_EQ(command.BrowserPath, "my-browser");
  EXPECT_EQ(command.BrowserParams, (Params{"--new-tab", "%s"}));
}

TEST_F(BrowserLookup, HtmlHandlerWhenNoHttpHandlerIsSet) {
  Entry("sysdata", "viewer.desktop", "html-viewer %F");
  Write("sysdata/applications/defaults.list", "[Default Applications]\ntext/html=viewer.desktop\n");
  TBrowserCommand command;
  ASSERT_TRUE(FindBrowser(Dirs(), command));
  EXPECT_EQ(command.BrowserPath, "html-viewer");
}

TEST_F(BrowserLookup, NothingRegisteredFindsNothing) {
  Write("config/mimeapps.list", "[Default Applications]\nx-scheme-handler/http=gone.desktop\n");
  TBrowserCommand command;
  EXPECT_FALSE(FindBrowser(Dirs(), command));
}

TEST(BrowserStart, AnAddressWithShellCharactersArrivesAsOneArgument) {
  TScratchFolder scratch;
  const std::string out = scratch.Path("args");
  const std::string browser = scratch.Path("browser");
  std::ofstream(browser) << "#!/bin/sh\nfor a in \"$@\"; do printf '[%s]\\n' \"$a\"; done > " << out
                         << ".tmp\nmv " << out << ".tmp " << out << "\n";
  std::filesystem::permissions(browser, std::filesystem::perms::owner_all);

  TBrowserCommand command{browser, {"--new-tab", "%s"}};
  ASSERT_TRUE(StartBrowser(command, R"(https://x.example/a b;touch pwned&q=$(id)`id`|"'\pa\th)"));
  // The browser runs on its own; wait for what it wrote.
  for (int i = 0; i < 500 && !std::filesystem::exists(out); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  EXPECT_EQ(ReadWholeFile(out),
            "[--new-tab]\n[https://x.example/a b;touch pwned&q=$(id)`id`|\"'/pa/th]\n");
  EXPECT_FALSE(std::filesystem::exists("pwned"));
}

TEST(BrowserStart, AProgramThatIsNotThereIsNotStarted) {
  EXPECT_FALSE(StartBrowser({"/nonexistent/browser", {"%s"}}, "https://x.example/"));
  EXPECT_FALSE(StartBrowser({"no-such-browser-on-path-xyz", {"%s"}}, "https://x.example/"));
  EXPECT_EQ(ResolveProgram("sh").empty(), false);
}

} // namespace
} // namespace pelrow
