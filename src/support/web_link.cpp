// Finding and starting the desktop's default web browser.
#include "support/web_link.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <sstream>
#include <sys/wait.h>
#include <unistd.h>

namespace pelrow {

namespace {

// The associations that name a web browser, in the order they are asked.
const char* const kBrowserMimeTypes[] = {"x-scheme-handler/http", "text/html"};
// The desktop's own opener: it knows the desktop's settings beyond the lists.
const char* const kDesktopOpener = "xdg-open";

std::string EnvOr(const char* name, const std::string& fallback) {
  const char* value = std::getenv(name);
  return (value != nullptr && *value != '\0') ? value : fallback;
}

std::vector<std::string> SplitList(const std::string& text, char separator) {
  std::vector<std::string> parts;
  std::string part;
  std::istringstream in(text);
  while (std::getline(in, part, separator))
    if (!part.empty())
      parts.push_back(part);
  return parts;
}

std::string Trimmed(const std::string& s) {
  const auto first = s.find_first_not_of(" \t\r");
  if (first == std::string::npos)
    return {};
  return s.substr(first, s.find_last_not_of(" \t\r") - first + 1);
}

// The value of key in [group] of a desktop-entry style file ("" when absent).
std::string ReadIniValue(const std::string& path, const std::string& group,
                         const std::string& key) {
  std::ifstream in(path);
  std::string line;
  bool inGroup = false;
  while (std::getline(in, line)) {
    line = Trimmed(line);
    if (line.empty() || line[0] == '#')
      continue;
    if (line[0] == '[') {
      inGroup = line == "[" + group + "]";
      continue;
    }
    const auto equals = line.find('=');
    if (inGroup && equals != std::string::npos && Trimmed(line.substr(0, equals)) == key)
      return Trimmed(line.substr(equals + 1));
  }
  return {};
}

// The association lists, most important first.
std::vector<std::string> AssociationFiles(const TXdgDirs& dirs) {
  std::vector<std::string> files;
  const auto addFolder = [&](const std::string& folder) {
    for (const std::string& desktop : dirs.Desktops)
      files.push_back(folder + "/" + desktop + "-mimeapps.list");
    files.push_back(folder + "/mimeapps.list");
  };
  for (const std::string& dir : dirs.ConfigDirs)
    addFolder(dir);
  for (const std::string& dir : dirs.DataDirs)
    addFolder(dir + "/applications");
  // The older name of the defaults list.
  for (const std::string& dir : dirs.DataDirs)
    files.push_back(dir + "/applications/defaults.list");
  return files;
}

// A desktop entry's file: its id names it directly, or with each "-" standing for
// a subfolder ("vendor-browser.desktop" in applications/vendor/browser.desktop).
std::string EntryInFolder(const std::string& folder, const std::string& id) {
  const std::string path = folder + "/" + id;
  if (::access(path.c_str(), R_OK) == 0)
    return path;
  for (std::size_t dash = id.find('-'); dash != std::string::npos; dash = id.find('-', dash + 1)) {
    const std::string sub = folder + "/" + id.substr(0, dash);
    if (::access(sub.c_str(), X_OK) == 0) {
      std::string found = EntryInFolder(sub, id.substr(dash + 1));
      if (!found.empty())
        return found;
    }
  }
  return {};
}

std::string FindDesktopEntry(const TXdgDirs& dirs, const std::string& id) {
  if (id.empty() || id.find('/') != std::string::npos)
    return {};
  for (const std::string& dir : dirs.DataDirs) {
    const std::string path = EntryInFolder(dir + "/applications", id);
    if (!path.empty())
      return path;
  }
  return {};
}

// Undoes the escapes that every desktop-entry string value may hold.
std::string UnescapeValue(const std::string& value) {
  std::string out;
  for (std::size_t i = 0; i < value.size(); ++i) {
    if (value[i] != '\\' || i + 1 == value.size()) {
      out += value[i];
      continue;
    }
    switch (value[++i]) {
    case 's':
      out += ' ';
      break;
    case 'n':
      out += '\n';
      break;
    case 't':
      out += '\t';
      break;
    case 'r':
      out += '\r';
      break;
    case '\\':
      out += '\\';
      break;
    default:
      out += '\\';
      out += value[i];
    }
  }
  return out;
}

// Splits an Exec value into arguments: blanks separate, double quotes group, and
// inside quotes a backslash keeps the next character.
bool SplitExec(const std::string& exec, std::vector<std::string>& words) {
  std::string word;
  bool inWord = false, quoted = false;
  for (std::size_t i = 0; i < exec.size(); ++i) {
    const char c = exec[i];
    if (quoted) {
      if (c == '"')
        quoted = false;
      else if (c == '\\' && i + 1 < exec.size())
        word += exec[++i];
      else
        word += c;
    } else if (c == '"') {
      quoted = inWord = true;
    } else if (c == ' ' || c == '\t') {
      if (inWord)
        words.push_back(word);
      word.clear();
      inWord = false;
    } else {
      word += c;
      inWord = true;
    }
  }
  if (quoted)
    return false;
  if (inWord)
    words.push_back(word);
  return true;
}

// One Exec argument as a parameter format: the address codes become "%s", a
// literal percent sign "%%"; false when nothing of the argument is left.
bool ToParamFormat(const std::string& word, std::string& format, bool& hasAddress) {
  format.clear();
  bool droppedCode = false;
  for (std::size_t i = 0; i < word.size(); ++i) {
    if (word[i] != '%' || i + 1 == word.size()) {
      format += word[i];
      continue;
    }
    const char code = word[++i];
    if (code == 'u' || code == 'U' || code == 'f' || code == 'F') {
      format += "%s";
      hasAddress = true;
    } else if (code == '%') {
      format += "%%";
    } else {
      droppedCode = true; // %i, %c, %k and the deprecated codes give nothing here
    }
  }
  return !(format.empty() && droppedCode);
}

} // namespace

TXdgDirs TXdgDirs::FromEnvironment() {
  const std::string home = EnvOr("HOME", "");
  TXdgDirs dirs;
  dirs.ConfigDirs.push_back(EnvOr("XDG_CONFIG_HOME", home + "/.config"));
  for (const std::string& dir : SplitList(EnvOr("XDG_CONFIG_DIRS", "/etc/xdg"), ':'))
    dirs.ConfigDirs.push_back(dir);
  dirs.DataDirs.push_back(EnvOr("XDG_DATA_HOME", home + "/.local/share"));
  for (const std::string& dir :
       SplitList(EnvOr("XDG_DATA_DIRS", "/usr/local/share:/usr/share"), ':'))
    dirs.DataDirs.push_back(dir);
  for (std::string desktop : SplitList(EnvOr("XDG_CURRENT_DESKTOP", ""), ':')) {
    std::transform(desktop.begin(), desktop.end(), desktop.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    dirs.Desktops.push_back(desktop);
  }
  return dirs;
}

bool ParseBrowserCommand(const std::string& exec, TBrowserCommand& command) {
  std::vector<std::string> words;
  if (!SplitExec(UnescapeValue(exec), words) || words.empty() || words[0].empty())
    return false;
  TBrowserCommand parsed;
  parsed.BrowserPath = words[0];
  bool hasAddress = false;
  for (std::size_t i = 1; i < words.size(); ++i) {
    std::string format;
    if (ToParamFormat(words[i], format, hasAddress))
      parsed.BrowserParams.push_back(format);
  }
  if (!hasAddress)
    parsed.BrowserParams.push_back("%s");
  command = std::move(parsed);
  return true;
}

namespace {

// The command of a usable desktop entry: found, not hidden, its TryExec program
// present, its Exec line readable.
bool EntryCommand(const TXdgDirs& dirs, const std::string& id, TBrowserCommand& command) {
  const std::string entry = FindDesktopEntry(dirs, id);
  if (entry.empty() || ReadIniValue(entry, "Desktop Entry", "Hidden") == "true")
    return false;
  const std::string tryExec = ReadIniValue(entry, "Desktop Entry", "TryExec");
  if (!tryExec.empty() && ResolveProgram(UnescapeValue(tryExec)).empty())
    return false;
  return ParseBrowserCommand(ReadIniValue(entry, "Desktop Entry", "Exec"), command);
}

bool Contains(const std::vector<std::string>& list, const std::string& item) {
  return std::find(list.begin(), list.end(), item) != list.end();
}

// The first usable entry that a group of the lists names for the MIME type, passing
// over those removed by the same or a more important list.
bool FirstInGroup(const TXdgDirs& dirs, const std::vector<std::string>& files, const char* group,
                  const char* mimeType, TBrowserCommand& command) {
  std::vector<std::string> removed;
  for (const std::string& file : files) {
    for (const std::string& id :
         SplitList(ReadIniValue(file, "Removed Associations", mimeType), ';'))
      removed.push_back(id);
    for (const std::string& id : SplitList(ReadIniValue(file, group, mimeType), ';'))
      if (!Contains(removed, id) && EntryCommand(dirs, id, command))
        return true;
  }
  return false;
}

} // namespace

bool FindBrowser(const TXdgDirs& dirs, TBrowserCommand& command) {
  const std::vector<std::string> files = AssociationFiles(dirs);
  std::vector<std::string> caches;
  for (const std::string& dir : dirs.DataDirs)
    caches.push_back(dir + "/applications/mimeinfo.cache");
  for (const char* mimeType : kBrowserMimeTypes) {
    if (FirstInGroup(dirs, files, "Default Applications", mimeType, command) ||
        FirstInGroup(dirs, files, "Added Associations", mimeType, command))
      return true;
    // What the installed entries declare, unless a list removed it.
    std::vector<std::string> removed;
    for (const std::string& file : files)
      for (const std::string& id :
           SplitList(ReadIniValue(file, "Removed Associations", mimeType), ';'))
        removed.push_back(id);
    for (const std::string& cache : caches)
      for (const std::string& id : SplitList(ReadIniValue(cache, "MIME Cache", mimeType), ';'))
        if (!Contains(removed, id) && EntryCommand(dirs, id, command))
          return true;
  }
  return false;
}

std::string ResolveProgram(const std::string& program) {
  if (program.empty())
    return {};
  if (program.find('/') != std::string::npos)
    return ::access(program.c_str(), X_OK) == 0 ? program : std::string();
  for (const std::string& dir : SplitList(EnvOr("PATH", "/usr/local/bin:/usr/bin:/bin"), ':')) {
    const std::string candidate = dir + "/" + program;
    if (::access(candidate.c_str(), X_OK) == 0)
      return candidate;
  }
  return {};
}

bool StartBrowser(const TBrowserCommand& command, std::string address) {
  std::replace(address.begin(), address.end(), '\\', '/');
  const std::string program = ResolveProgram(command.BrowserPath);
  if (program.empty())
    return false;

  // Everything the child needs is built before fork: after it, only calls that
  // are safe in a copy of a threaded process.
  std::vector<std::string> args{command.BrowserPath};
  for (const std::string& format : command.BrowserParams) {
    std::string arg;
    for (std::size_t i = 0; i < format.size(); ++i) {
      if (format[i] == '%' && i + 1 < format.size() && format[i + 1] == 's')
        arg += address, ++i;
      else if (format[i] == '%' && i + 1 < format.size() && format[i + 1] == '%')
        arg += '%', ++i;
      else
        arg += format[i];
    }
    args.push_back(std::move(arg));
  }
  std::vector<char*> argv;
  for (std::string& arg : args)
    argv.push_back(arg.data());
  argv.push_back(nullptr);

  // The browser is started from a short-lived intermediate process, so it is
  // adopted by init and never left as our zombie. A pipe closed by a successful
  // exec tells the two outcomes apart.
  int report[2];
  if (::pipe2(report, O_CLOEXEC) != 0)
    return false;
  const pid_t middle = ::fork();
  if (middle == 0) {
    ::setsid();
    const pid_t browser = ::fork();
    if (browser == 0) {
      const int devNull = ::open("/dev/null", O_RDONLY);
      if (devNull >= 0)
        ::dup2(devNull, STDIN_FILENO);
      ::execv(program.c_str(), argv.data());
      const int error = errno;
      [[maybe_unused]] const ssize_t ignored = ::write(report[1], &error, sizeof error);
      ::_exit(127);
    }
    ::_exit(browser < 0 ? 1 : 0);
  }
  ::close(report[1]);
  bool started = false;
  if (middle > 0) {
    int status = 0;
    while (::waitpid(middle, &status, 0) < 0 && errno == EINTR) {
    }
    int error = 0;
    ssize_t got;
    while ((got = ::read(report[0], &error, sizeof error)) < 0 && errno == EINTR) {
    }
    started = WIFEXITED(status) && WEXITSTATUS(status) == 0 && got == 0;
  }
  ::close(report[0]);
  return started;
}

bool OpenInBrowser(const std::string& address) {
  if (!ResolveProgram(kDesktopOpener).empty())
    return StartBrowser({kDesktopOpener, {"%s"}}, address);
  TBrowserCommand browser;
  return FindBrowser(TXdgDirs::FromEnvironment(), browser) && StartBrowser(browser, address);
}

} // namespace pelrow
