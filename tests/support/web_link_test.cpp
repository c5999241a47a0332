#include "support/web_link.h"

#include "support/scratch_folder.h"

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <optional>
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
    const std::string path = FScratch->Path(relative);
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
    return {{FScratch->Path("config"), FScratch->Path("sysconfig")},
            {FScratch->Path("data"), FScratch->Path("sysdata")},
            {"kde"}};
  }
  TScratchFolder* FScratch = nullptr;
};

// Each kind of entry the XDG lookup knows, in scratch folders: "config" and
// "sysconfig" are the configuration folders, "data" and "sysdata" the data
// folders, the desktop is "kde". Every case also has entries nobody names.
TEST_F(BrowserLookup, EachKindOfAssociationFindsItsBrowser) {
  struct TCase {
    const char* Name;
    std::vector<std::pair<std::string, std::string>> Files;
    const char* Expected; // the program, "" for none
  } const cases[] = {
      {"the user's default before the system's and before additions",
       {{"sysconfig/mimeapps.list", "[Default Applications]\nx-scheme-handler/http=sys.desktop\n"},
        {"config/mimeapps.list", "[Added Associations]\nx-scheme-handler/http=sys.desktop\n"
                                 "[Default Applications]\nx-scheme-handler/http=gone.desktop;"
                                 "mine.desktop;\n"}},
       "my-browser"},
      {"the desktop's own list before the general one",
       {{"config/mimeapps.list", "[Default Applications]\nx-scheme-handler/http=mine.desktop\n"},
        {"config/kde-mimeapps.list",
         "[Default Applications]\nx-scheme-handler/http=sys.desktop\n"}},
       "system-browser"},
      {"a desktop list in a data folder",
       {{"sysdata/applications/kde-mimeapps.list",
         "[Default Applications]\nx-scheme-handler/http=sys.desktop\n"}},
       "system-browser"},
      {"an added association when no default is set",
       {{"data/applications/mimeapps.list",
         "[Added Associations]\nx-scheme-handler/http=mine.desktop\n"}},
       "my-browser"},
      {"what installed entries declare",
       {{"sysdata/applications/mimeinfo.cache",
         "[MIME Cache]\nx-scheme-handler/http=sys.desktop;\n"}},
       "system-browser"},
      {"a removed association is passed over",
       {{"config/mimeapps.list", "[Removed Associations]\nx-scheme-handler/http=sys.desktop\n"},
        {"sysdata/applications/mimeinfo.cache",
         "[MIME Cache]\nx-scheme-handler/http=sys.desktop;vendor-web.desktop;\n"}},
       "vendor-browser"},
      {"a hidden entry or one whose program is missing is passed over",
       {{"config/mimeapps.list",
         "[Default "
         "Applications]\nx-scheme-handler/http=hidden.desktop;tryexec.desktop;mine.desktop\n"}},
       "my-browser"},
      {"the old defaults list, for HTML pages",
       {{"sysdata/applications/defaults.list",
         "[Default Applications]\ntext/html=viewer.desktop\n"}},
       "html-viewer"},
      {"nothing usable registered",
       {{"config/mimeapps.list", "[Default Applications]\nx-scheme-handler/http=gone.desktop\n"},
        {"sysdata/applications/mimeinfo.cache", "[MIME Cache]\ntext/plain=mine.desktop;\n"}},
       ""},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    TScratchFolder scratch;
    FScratch = &scratch;
    Entry("sysdata", "sys.desktop", "system-browser %u");
    Entry("data", "mine.desktop", "my-browser --new-tab %u");
    Entry("sysdata", "vendor/web.desktop", "vendor-browser %U");
    Entry("sysdata", "viewer.desktop", "html-viewer %F");
    Entry("data", "hidden.desktop", "hidden-browser %u\nHidden=true");
    Entry("data", "tryexec.desktop", "absent-browser %u\nTryExec=no-such-program-xyz");
    for (const auto& [path, text] : c.Files)
      Write(path, text);
    TBrowserCommand command;
    EXPECT_EQ(FindBrowser(Dirs(), command), *c.Expected != '\0');
    EXPECT_EQ(command.BrowserPath, c.Expected);
  }
  FScratch = nullptr;
}

// The program's own lookup, as the Help menu runs it, with PATH and the XDG
// variables pointing into a scratch folder.
class OpenInBrowserTest : public BrowserLookup {
protected:
  void SetUp() override {
    for (const char* name : {"PATH", "XDG_CONFIG_HOME", "XDG_CONFIG_DIRS", "XDG_DATA_HOME",
                             "XDG_DATA_DIRS", "XDG_CURRENT_DESKTOP"}) {
      const char* value = std::getenv(name);
      FSaved.emplace_back(name, value ? std::optional<std::string>(value) : std::nullopt);
    }
    ::setenv("PATH", FOwn.Path("bin").c_str(), 1);
    ::setenv("XDG_CONFIG_HOME", FOwn.Path("config").c_str(), 1);
    ::setenv("XDG_CONFIG_DIRS", FOwn.Path("sysconfig").c_str(), 1);
    ::setenv("XDG_DATA_HOME", FOwn.Path("data").c_str(), 1);
    ::setenv("XDG_DATA_DIRS", FOwn.Path("sysdata").c_str(), 1);
    ::unsetenv("XDG_CURRENT_DESKTOP");
    FScratch = &FOwn;
  }
  void TearDown() override {
    for (const auto& [name, value] : FSaved)
      value ? ::setenv(name.c_str(), value->c_str(), 1) : ::unsetenv(name.c_str());
  }
  // A program in the scratch PATH that writes its arguments to a file of its name.
  std::string Program(const std::string& name) {
    const std::string path = FOwn.Path("bin/" + name);
    Write("bin/" + name, "#!/bin/sh\nprintf '%s\\n' \"$@\" > " + path + ".tmp\n/bin/mv " + path +
                             ".tmp " + path + ".args\n");
    std::filesystem::permissions(path, std::filesystem::perms::owner_all);
    return path;
  }
  std::string ArgsOf(const std::string& program) {
    const std::string out = program + ".args";
    for (int i = 0; i < 500 && !std::filesystem::exists(out); ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    return ReadWholeFile(out);
  }
  TScratchFolder FOwn;
  std::vector<std::pair<std::string, std::optional<std::string>>> FSaved;
};

TEST_F(OpenInBrowserTest, TheDesktopsOpenerFirstThenTheListsAndNoFailureIsKept) {
  // Nothing registered and no opener: nothing starts.
  ASSERT_TRUE(std::filesystem::create_directories(FOwn.Path("bin")));
  EXPECT_FALSE(OpenInBrowser("https://x.example/"));

  // A browser registered while the program runs is found at the next try.
  const std::string browser = Program("web-browser");
  Entry("data", "web.desktop", browser + " --new-tab %u");
  Write("config/mimeapps.list", "[Default Applications]\nx-scheme-handler/http=web.desktop\n");
  ASSERT_TRUE(OpenInBrowser("https://x.example/a"));
  EXPECT_EQ(ArgsOf(browser), "--new-tab\nhttps://x.example/a\n");

  // With xdg-open installed, it opens the address.
  const std::string opener = Program("xdg-open");
  ASSERT_TRUE(OpenInBrowser("https://x.example/b"));
  EXPECT_EQ(ArgsOf(opener), "https://x.example/b\n");
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
