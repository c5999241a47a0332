// Opening a web address in the desktop's default browser. The desktop's own
// opener, xdg-open, does it where it is installed; elsewhere the browser is the
// desktop entry that the XDG MIME associations name for http links (or, failing
// that, for HTML pages), and its Exec line is split into an argument vector. The
// program is started with fork/exec, so an address never passes through a shell
// whatever characters it holds.
#pragma once

#include <string>
#include <vector>

namespace pelrow {

// Where the XDG associations and desktop entries are looked for, most important
// first. From the environment by default; tests give folders of their own.
struct TXdgDirs {
  std::vector<std::string> ConfigDirs; // mimeapps.list
  std::vector<std::string> DataDirs;   // applications/: entries, lists, mimeinfo.cache
  // The current desktop's names in lower case, for "<desktop>-mimeapps.list".
  std::vector<std::string> Desktops;
  static TXdgDirs FromEnvironment();
};

// The browser command: the program and its parameters, one argument each, where
// "%s" stands for the address.
struct TBrowserCommand {
  std::string BrowserPath;
  std::vector<std::string> BrowserParams;
};

// Splits a desktop entry's Exec value into a command. Quoting follows the desktop
// entry rules; the field codes %u, %U, %f and %F become "%s", %i, %c and %k are
// dropped, %% is a percent sign. Without any field code the address goes last.
// Answers false when there is no program name or the quoting is broken.
bool ParseBrowserCommand(const std::string& exec, TBrowserCommand& command);

// Looks up the default browser's command; false when none is registered or no
// registered desktop entry can be used. The association lists are read in the XDG
// order (desktop-specific lists before general ones, the user's before the
// system's, configuration before data folders): first their defaults, then the
// applications they add, then those that the installed entries declare
// (mimeinfo.cache); an association that a more important list removes is passed
// over.
bool FindBrowser(const TXdgDirs& dirs, TBrowserCommand& command);

// The program to start: an absolute path as it is, otherwise found on PATH;
// empty when it does not exist.
std::string ResolveProgram(const std::string& program);

// Starts the browser with the address (backslashes turned into slashes) in place
// of each "%s". True when the program was started; it runs on after we return
// and is never our child for long.
bool StartBrowser(const TBrowserCommand& command, std::string address);

// Opens the address with xdg-open where it is on PATH, else with the browser
// that FindBrowser finds. The lookup runs on every call, so a browser installed
// while the program runs is found.
bool OpenInBrowser(const std::string& address);

// A non-visual link that holds an address and opens it.
class TGoToWeb {
public:
  std::string Url;
  bool OpenUrl() const { return OpenInBrowser(Url); }
};

} // namespace pelrow
