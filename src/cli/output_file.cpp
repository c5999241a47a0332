// Checking and writing pelrow-cli's output files.
#include "cli/output_file.h"

#include "app/file_loader.h"
#include "support/safe_file.h"
#include "support/text_format.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace pelrow::cli {

namespace {

constexpr const char* TextUnknownOutput =
    "%s: unknown kind of output file \"%s\" (use .syx for raw bytes or .txt for hex lines)";
constexpr const char* TextReadOnly = "It is read-only";
constexpr const char* TextSavedInstead = "%s; what was received was saved to %s instead";
constexpr const char* TextNotSavedAnywhere =
    "%s; what was received could not be saved anywhere else either (%s)";
// How many new names beside the file are tried.
constexpr int SpareNames = 1000;

bool SameIgnoringCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && strncasecmp(a.data(), b.data(), a.size()) == 0;
}

// Saves lines to fileName; false with the saver's message in error.
bool SaveLines(const std::string& fileName, const TVKStrings& lines, std::string& error) {
  TFileSaver saver;
  saver.SetShowStatus([&](const std::string& text, TStatusSide, TStatusKind kind, bool) {
    if (kind == TStatusKind::Error || kind == TStatusKind::ErrorBox)
      error = text;
  });
  return saver.SaveFile(fileName, lines, TStatusSide::In);
}

// "backup.syx" becomes "backup-1.syx", "backup-2.syx", ...: a name not taken yet.
// An output without a file's extension (a device) was written as hex lines, and
// its spare is a ".txt" file.
std::string SpareName(const std::string& folder, const std::string& fileName) {
  const std::string base = fileName.substr(fileName.find_last_of('/') + 1);
  std::string_view extension = FileExtension(base);
  const std::string stem = base.substr(0, base.size() - extension.size());
  if (!SameIgnoringCase(extension, ".syx") && !SameIgnoringCase(extension, ".txt"))
    extension = ".txt";
  for (int n = 1; n <= SpareNames; ++n) {
    const std::string name = folder + "/" + stem + "-" + std::to_string(n) + std::string(extension);
    struct stat info {};
    if (::lstat(name.c_str(), &info) != 0)
      return name;
  }
  return {};
}

} // namespace

bool OutputFormOf(const std::string& fileName, TSaveForm& form, std::string& error) {
  const std::string_view extension = FileExtension(fileName);
  if (SameIgnoringCase(extension, ".syx") || SameIgnoringCase(extension, ".txt")) {
    form = SaveFormOf(fileName);
    return true;
  }
  struct stat info {};
  const bool notAFile = fileName == "-" || fileName.starts_with("/dev/") ||
                        (::stat(fileName.c_str(), &info) == 0 && !S_ISREG(info.st_mode) &&
                         !S_ISDIR(info.st_mode));
  if (notAFile) {
    form = TSaveForm::Text;
    return true;
  }
  error = FormatText(TextUnknownOutput, fileName.c_str(), std::string(extension).c_str());
  return false;
}

bool CheckOutputFile(const std::string& fileName, std::string& error) {
  struct stat info {};
  std::string reason;
  const bool exists = ::stat(fileName.c_str(), &info) == 0;
  if (exists && S_ISDIR(info.st_mode))
    reason = std::strerror(EISDIR);
  else if (FileIsReadOnly(fileName))
    reason = TextReadOnly;
  else if (exists && !S_ISREG(info.st_mode) && ::access(fileName.c_str(), W_OK) != 0)
    reason = std::strerror(errno);
  else if ((!exists || S_ISREG(info.st_mode)) && // replaced through a new file beside it
           ::faccessat(AT_FDCWD, FolderOf(fileName).c_str(), W_OK | X_OK, AT_EACCESS) != 0)
    reason = std::strerror(errno);
  if (reason.empty())
    return true;
  error = FormatText(CannotCreateFileText, fileName.c_str(), reason.c_str());
  return false;
}

bool SaveCapture(const std::string& fileName, const TVKStrings& lines, TCliStreams& streams) {
  std::string error;
  if (SaveLines(fileName, lines, error))
    return true;
  const char* temporary = std::getenv("TMPDIR");
  // Beside a device or a FIFO is no place for a file.
  struct stat info {};
  const bool regular = ::stat(fileName.c_str(), &info) != 0 || S_ISREG(info.st_mode);
  std::string lastError;
  for (const std::string& folder :
       {FolderOf(fileName), std::string(temporary != nullptr && *temporary ? temporary : "/tmp")}) {
    if (!regular && folder == FolderOf(fileName))
      continue;
    const std::string spare = SpareName(folder, fileName);
    if (!spare.empty() && SaveLines(spare, lines, lastError)) {
      ReportError(streams, FormatText(TextSavedInstead, error.c_str(), spare.c_str()));
      return false;
    }
  }
  ReportError(streams, FormatText(TextNotSavedAnywhere, error.c_str(), lastError.c_str()));
  return false;
}

TOutputWriter::TOutputWriter(TOutputTarget& output, std::size_t limitBytes)
    : FOutput(output), FLimitBytes(limitBytes), FThread([this] { Run(); }) {}

TOutputWriter::~TOutputWriter() {
  Finish();
}

void TOutputWriter::Add(std::string_view line) {
  FAdded.append(line);
  FAdded.append(TextLineEnd);
}

bool TOutputWriter::Flush() {
  std::lock_guard lock(FLock);
  if (FFailed) {
    FAdded.clear();
    return false;
  }
  if (!FAdded.empty()) {
    FWaiting += FAdded.size();
    FPending.push_back(std::move(FAdded));
    FAdded.clear();
    FWake.notify_one();
  }
  return true;
}

bool TOutputWriter::Full() const {
  std::lock_guard lock(FLock);
  return FWaiting + FAdded.size() >= FLimitBytes;
}

void TOutputWriter::Finish() {
  if (!FThread.joinable())
    return;
  Flush();
  {
    std::lock_guard lock(FLock);
    FEnding = true;
    FWake.notify_one();
  }
  FThread.join();
}

void TOutputWriter::Run() {
  std::unique_lock lock(FLock);
  while (true) {
    FWake.wait(lock, [this] { return !FPending.empty() || FEnding; });
    if (FPending.empty())
      return;
    std::string piece = std::move(FPending.front());
    FPending.pop_front();
    lock.unlock();
    const bool written = FOutput.Write(piece) && FOutput.Flush();
    lock.lock();
    FWaiting -= piece.size();
    if (!written) {
      // Nobody takes what follows; the command ends as its output failed.
      FFailed = true;
      FPending.clear();
      FWaiting = 0;
      return;
    }
  }
}

} // namespace pelrow::cli
