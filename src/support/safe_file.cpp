#include "support/safe_file.h"

#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <string_view>
#include <sys/file.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <utility>
#include <vector>

#include "support/text_format.h"

namespace pelrow {

namespace {

constexpr const char* kNotRegularFile = "it is not a regular file";
constexpr const char* kLockBusy = "another copy of the program has held its lock for %d ms";
constexpr const char* kTemporaryMark = ".tmp-";
constexpr const char* kReadOnlyFile = "it is read-only, so it was left as it is";
constexpr const char* kStepFailed = "%s: %s";
constexpr const char* kStepFollowLink = "following the symbolic link";
constexpr const char* kStepCreate = "creating the new file beside it";
constexpr const char* kStepWrite = "writing the new file";
constexpr const char* kStepSync = "flushing the new file to disk";
constexpr const char* kStepClose = "closing the new file";
constexpr const char* kStepReplace = "putting the new file in place";
constexpr uint32_t kLockRetryMs = 5;

std::string SystemError() {
  return std::strerror(errno);
}

// Closes a descriptor on every way out of a function.
class TDescriptor {
public:
  explicit TDescriptor(int fd) : FFd(fd) {}
  ~TDescriptor() {
    if (FFd >= 0)
      ::close(FFd);
  }
  TDescriptor(const TDescriptor&) = delete;
  TDescriptor& operator=(const TDescriptor&) = delete;
  int Get() const { return FFd; }
  // Closes now and reports a failure, which for a written file can mean lost data.
  bool Close() {
    const int fd = FFd;
    FFd = -1;
    return ::close(fd) == 0;
  }

private:
  int FFd;
};

// As many links in a row as the system itself follows before it gives up.
constexpr int kMaxLinkHops = 40;

// Replacing a symbolic link by rename would turn it into a plain file, so the
// file at the end of its chain of links is the one to replace. A dangling link
// still names that file: it is created there. Only the links themselves are
// read (realpath would refuse a dangling one); a relative link is relative to the
// folder that holds it.
bool ResolveLinkTarget(const std::string& path, std::string& target, int& error) {
  target = path;
  for (int hop = 0; hop < kMaxLinkHops; ++hop) {
    struct stat info {};
    if (::lstat(target.c_str(), &info) != 0 || !S_ISLNK(info.st_mode))
      return true; // not there yet, or no link: later steps say what is wrong
    char link[PATH_MAX];
    const ssize_t length = ::readlink(target.c_str(), link, sizeof link);
    if (length < 0 || length == static_cast<ssize_t>(sizeof link)) {
      error = length < 0 ? errno : ENAMETOOLONG;
      return false;
    }
    const std::string linked(link, static_cast<std::size_t>(length));
    target = linked.starts_with('/') ? linked : FolderOf(target) + "/" + linked;
  }
  error = ELOOP;
  return false;
}

// Where RemoveLeftoverTemporaries looks: a link that cannot be followed leaves
// nothing of ours beside its target.
std::string LinkTargetOrPath(const std::string& path) {
  std::string target;
  int ignored = 0;
  return ResolveLinkTarget(path, target, ignored) ? target : path;
}

bool IsReadOnly(const struct stat& info, const std::string& path) {
  return (info.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0 ||
         ::faccessat(AT_FDCWD, path.c_str(), W_OK, AT_EACCESS) != 0;
}

// The folder entry must reach the disk too, or a crash can bring back the old file.
void SyncFolder(const std::string& folder) {
  TDescriptor dir(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (dir.Get() >= 0)
    ::fsync(dir.Get());
}

std::string TimeStamp() {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  ::localtime_r(&now, &local);
  char text[32];
  std::strftime(text, sizeof text, "%Y%m%d-%H%M%S", &local);
  return text;
}

bool PathExists(const std::string& path) {
  struct stat info {};
  return ::lstat(path.c_str(), &info) == 0;
}

std::string TemporaryPrefix(const std::string& target) {
  return target + kTemporaryMark;
}

bool AllDigits(std::string_view text) {
  return !text.empty() && text.find_first_not_of("0123456789") == std::string_view::npos;
}

} // namespace

std::string FolderOf(const std::string& path) {
  const auto slash = path.find_last_of('/');
  if (slash == std::string::npos)
    return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

TReadStatus ReadFileBytes(const std::string& path, std::size_t maxBytes, std::string& bytes,
                          std::string& error) {
  bytes.clear();
  // Without O_NONBLOCK, opening a FIFO waits for a writer that never comes; the
  // type is checked on the open descriptor, so nothing can swap the file between.
  TDescriptor file(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
  if (file.Get() < 0) {
    if (errno == ENOENT)
      return TReadStatus::Missing;
    error = SystemError();
    return TReadStatus::Failed;
  }
  struct stat info {};
  if (::fstat(file.Get(), &info) != 0) {
    error = SystemError();
    return TReadStatus::Failed;
  }
  if (!S_ISREG(info.st_mode)) {
    error = S_ISDIR(info.st_mode) ? std::strerror(EISDIR) : kNotRegularFile;
    return TReadStatus::Failed;
  }
  char chunk[65536];
  for (;;) {
    const ssize_t got = ::read(file.Get(), chunk, sizeof chunk);
    if (got < 0) {
      if (errno == EINTR)
        continue;
      error = SystemError();
      return TReadStatus::Failed;
    }
    if (got == 0)
      return TReadStatus::Read;
    if (bytes.size() + static_cast<std::size_t>(got) > maxBytes)
      return TReadStatus::TooLarge;
    bytes.append(chunk, static_cast<std::size_t>(got));
  }
}

std::string TWriteFailure::Text() const {
  const char* step = "";
  switch (Step) {
  case TWriteStep::ReadOnly:
    return kReadOnlyFile;
  case TWriteStep::FollowLink:
    step = kStepFollowLink;
    break;
  case TWriteStep::CreateTemporary:
    step = kStepCreate;
    break;
  case TWriteStep::Write:
    step = kStepWrite;
    break;
  case TWriteStep::Sync:
    step = kStepSync;
    break;
  case TWriteStep::Close:
    step = kStepClose;
    break;
  case TWriteStep::Replace:
    step = kStepReplace;
    break;
  }
  return FormatText(kStepFailed, step, std::strerror(Errno));
}

bool FileIsReadOnly(const std::string& path) {
  const std::string target = LinkTargetOrPath(path);
  struct stat info {};
  return ::stat(target.c_str(), &info) == 0 && S_ISREG(info.st_mode) && IsReadOnly(info, target);
}

namespace {

// Our own descriptors by the names the system gives them; -1 for any other path.
int OwnDescriptorOf(const std::string& path) {
  if (path == "/dev/stdout")
    return STDOUT_FILENO;
  if (path == "/dev/stderr")
    return STDERR_FILENO;
  for (const std::string_view prefix : {"/dev/fd/", "/proc/self/fd/"}) {
    const std::string_view rest =
        std::string_view(path).substr(path.starts_with(prefix) ? prefix.size() : path.size());
    if (AllDigits(rest) && rest.size() < 6)
      return std::stoi(std::string(rest));
  }
  return -1;
}

} // namespace

TOutputTarget::~TOutputTarget() {
  Abandon();
}

bool TOutputTarget::Fail(TWriteStep step, int error) {
  if (!FFailed)
    FFailure = {step, error};
  FFailed = true;
  return false;
}

void TOutputTarget::OpenDescriptor(int fd) {
  FFd = fd;
  FOwnsFd = false;
  FInPlace = true;
}

bool TOutputTarget::Open(const std::string& path, mode_t newFileMode, bool waitForReader) {
  if (const int own = OwnDescriptorOf(path); own >= 0) {
    OpenDescriptor(own);
    return true;
  }
  int linkError = 0;
  if (!ResolveLinkTarget(path, FTarget, linkError))
    return Fail(TWriteStep::FollowLink, linkError);
  struct stat old {};
  const bool exists = ::stat(FTarget.c_str(), &old) == 0;
  if (exists && S_ISDIR(old.st_mode))
    return Fail(TWriteStep::CreateTemporary, EISDIR);
  if (exists && !S_ISREG(old.st_mode)) {
    FFd =
        ::open(FTarget.c_str(), O_WRONLY | O_NOCTTY | O_CLOEXEC | (waitForReader ? 0 : O_NONBLOCK));
    if (FFd < 0)
      return Fail(TWriteStep::CreateTemporary, errno);
    if (!waitForReader) // the writes themselves wait as usual
      (void)::fcntl(FFd, F_SETFL, ::fcntl(FFd, F_GETFL) & ~O_NONBLOCK);
    FOwnsFd = true;
    FInPlace = true;
    return true;
  }
  if (exists && IsReadOnly(old, FTarget))
    return Fail(TWriteStep::ReadOnly, EACCES);
  FTemporary = TemporaryPrefix(FTarget) + std::to_string(::getpid());
  // A leftover of a dead process with our number may be anything, a FIFO even;
  // only a file made here and now is written.
  ::unlink(FTemporary.c_str());
  // Owner-only until it holds the old file's permissions, which may be narrower
  // than a new file's.
  FFd = ::open(FTemporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
               exists ? 0600 : newFileMode);
  if (FFd < 0) {
    FTemporary.clear();
    return Fail(TWriteStep::CreateTemporary, errno);
  }
  FOwnsFd = true;
  // The content matters more than the permissions: where they cannot be set (a
  // file system without them) the new file stays owner-only.
  if (exists)
    (void)::fchmod(FFd, old.st_mode & 07777);
  return true;
}

bool TOutputTarget::WriteOut(const char* data, std::size_t size) {
  std::size_t done = 0;
  while (done < size) {
    const ssize_t written = ::write(FFd, data + done, size - done);
    if (written < 0) {
      if (errno == EINTR)
        continue;
      return Fail(TWriteStep::Write, errno);
    }
    done += static_cast<std::size_t>(written);
  }
  return true;
}

bool TOutputTarget::Write(std::string_view bytes) {
  constexpr std::size_t BufferSize = 1 << 16;
  if (FFailed || FFd < 0)
    return false;
  if (FBuffer.size() + bytes.size() < BufferSize) {
    FBuffer.append(bytes);
    return true;
  }
  return Flush() && WriteOut(bytes.data(), bytes.size());
}

bool TOutputTarget::Flush() {
  if (FFailed || FFd < 0)
    return false;
  const bool written = WriteOut(FBuffer.data(), FBuffer.size());
  FBuffer.clear();
  return written;
}

bool TOutputTarget::Commit() {
  if (!Flush())
    return false;
  if (FTemporary.empty()) {
    if (!FOwnsFd)
      return true; // a descriptor of ours stays open for more
    const int fd = FFd;
    FFd = -1;
    return ::close(fd) == 0 || Fail(TWriteStep::Close, errno);
  }
  if (::fsync(FFd) != 0)
    return Fail(TWriteStep::Sync, errno);
  const int fd = FFd;
  FFd = -1;
  if (::close(fd) != 0)
    return Fail(TWriteStep::Close, errno);
  if (::rename(FTemporary.c_str(), FTarget.c_str()) != 0)
    return Fail(TWriteStep::Replace, errno);
  FTemporary.clear();
  SyncFolder(FolderOf(FTarget));
  return true;
}

void TOutputTarget::Abandon() {
  if (FFd >= 0 && FOwnsFd)
    ::close(FFd);
  if (FOwnsFd || !FTemporary.empty())
    FFd = -1;
  if (!FTemporary.empty())
    ::unlink(FTemporary.c_str());
  FTemporary.clear();
  FBuffer.clear();
}

bool TOutputTarget::HandOver(std::string& temporary, std::string& target) {
  if (FTemporary.empty())
    return Commit();
  if (!Flush())
    return false;
  if (::close(std::exchange(FFd, -1)) != 0)
    return Fail(TWriteStep::Close, errno);
  temporary = std::exchange(FTemporary, {});
  target = FTarget;
  return true;
}

bool WriteFileAtomically(const std::string& path, const std::string& bytes, TWriteFailure& failure,
                         mode_t newFileMode) {
  TOutputTarget target;
  // Whole-file saves run where nothing may hang: a FIFO without a reader fails.
  if (target.Open(path, newFileMode, false) && target.Write(bytes) && target.Commit())
    return true;
  failure = target.Failure();
  return false;
}

TFileBatch::~TFileBatch() {
  Abandon();
}

bool TFileBatch::Fail(const std::string& path, const TWriteFailure& failure) {
  if (FFailedPath.empty()) {
    FFailedPath = path;
    FFailure = failure;
  }
  return false;
}

bool TFileBatch::Write(const std::string& path, std::string_view bytes, mode_t newFileMode) {
  const std::string target = LinkTargetOrPath(path);
  const std::string folder = FolderOf(target);
  if (!FFolders.contains(folder)) {
    char real[PATH_MAX];
    FFolders[folder] = {::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC),
                        ::realpath(folder.c_str(), real) != nullptr ? real : folder};
  }
  const std::string key = FFolders[folder].Real + "/" + target.substr(target.rfind('/') + 1);
  // Two names of one file: the earlier write goes in place first, as it would if
  // they were written one after the other.
  if (FPendingTargets.contains(key) && !Commit())
    return false;
  TOutputTarget output;
  TPending pending{path, {}, {}};
  // As WriteFileAtomically: a FIFO without a reader fails instead of waiting.
  if (!(output.Open(path, newFileMode, false) && output.Write(bytes) &&
        output.HandOver(pending.Temporary, pending.Target)))
    return Fail(path, output.Failure());
  if (!pending.Temporary.empty()) {
    FPendingTargets.insert(key);
    FPending.push_back(std::move(pending));
  }
  return true;
}

bool TFileBatch::SyncFileSystems() {
  for (const auto& [folder, opened] : FFolders) {
    // A folder we may write into but not read cannot be opened: everything is synced.
    if (opened.Fd < 0)
      ::sync();
    else if (::syncfs(opened.Fd) != 0)
      return Fail(folder, {TWriteStep::Sync, errno});
  }
  return true;
}

bool TFileBatch::Commit() {
  bool committed = SyncFileSystems();
  std::size_t placed = 0;
  while (committed && placed < FPending.size()) {
    const TPending& pending = FPending[placed];
    if (::rename(pending.Temporary.c_str(), pending.Target.c_str()) != 0)
      committed = Fail(pending.Path, {TWriteStep::Replace, errno});
    else
      ++placed;
  }
  // Even after a failure: the new entries of the files put in place must reach the disk.
  for (const auto& [folder, opened] : FFolders)
    if (placed > 0 && opened.Fd >= 0 && ::fsync(opened.Fd) != 0)
      committed = Fail(folder, {TWriteStep::Sync, errno});
  FPending.erase(FPending.begin(), FPending.begin() + static_cast<std::ptrdiff_t>(placed));
  Abandon();
  return committed;
}

void TFileBatch::Abandon() {
  for (const TPending& pending : FPending)
    ::unlink(pending.Temporary.c_str());
  FPending.clear();
  FPendingTargets.clear();
  for (const auto& [folder, opened] : FFolders)
    if (opened.Fd >= 0)
      ::close(opened.Fd);
  FFolders.clear();
}

void RemoveLeftoverTemporaries(const std::string& path) {
  const std::string target = LinkTargetOrPath(path);
  const std::string folder = FolderOf(target);
  const std::string prefix = TemporaryPrefix(target).substr(folder == "/" ? 1 : folder.size() + 1);
  DIR* dir = ::opendir(folder.c_str());
  if (dir == nullptr)
    return;
  std::vector<std::string> leftovers;
  while (const dirent* entry = ::readdir(dir)) {
    const std::string_view name = entry->d_name;
    if (name.starts_with(prefix) && AllDigits(name.substr(prefix.size())))
      leftovers.push_back(folder + "/" + std::string(name));
  }
  ::closedir(dir);
  for (const std::string& leftover : leftovers)
    ::unlink(leftover.c_str());
}

bool MakeFolders(const std::string& path, std::string& error) {
  struct stat info {};
  if (::stat(path.c_str(), &info) == 0) {
    if (S_ISDIR(info.st_mode))
      return true;
    error = std::strerror(ENOTDIR);
    return false;
  }
  const std::string parent = FolderOf(path);
  if (parent != path && parent != "." && !MakeFolders(parent, error))
    return false;
  if (::mkdir(path.c_str(), 0700) != 0 && errno != EEXIST) {
    error = SystemError();
    return false;
  }
  return true;
}

std::string SetFileAside(const std::string& path, const std::string& suffix, std::string& error) {
  const std::string base = path + suffix + "-" + TimeStamp();
  std::string aside = base;
  for (int n = 2; PathExists(aside); ++n)
    aside = base + "-" + std::to_string(n);
  if (::rename(path.c_str(), aside.c_str()) != 0) {
    error = SystemError();
    return {};
  }
  return aside;
}

TFileLock::TFileLock(const std::string& lockPath, const TLockWait& wait) {
  FDescriptor = ::open(lockPath.c_str(),
                       O_RDWR | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, 0600);
  if (FDescriptor < 0) {
    FError = SystemError();
    return;
  }
  const uint32_t start = wait.Clock->NowMs();
  while (::flock(FDescriptor, LOCK_EX | LOCK_NB) != 0) {
    const int failure = errno;
    if (failure == EWOULDBLOCK && wait.Clock->NowMs() - start < wait.LimitMs) {
      if (wait.Pause)
        wait.Pause(kLockRetryMs);
      else
        std::this_thread::sleep_for(std::chrono::milliseconds(kLockRetryMs));
      continue;
    }
    if (failure == EINTR)
      continue;
    FBusy = failure == EWOULDBLOCK;
    FError = FBusy ? FormatText(kLockBusy, wait.LimitMs) : std::strerror(failure);
    ::close(FDescriptor);
    FDescriptor = -1;
    return;
  }
}

TFileLock::~TFileLock() {
  if (FDescriptor >= 0)
    ::close(FDescriptor);
}

} // namespace pelrow
