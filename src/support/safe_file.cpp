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
#include <vector>

#include "support/text_format.h"

namespace pelrow {

namespace {

constexpr const char* kNotRegularFile = "it is not a regular file";
constexpr const char* kLockBusy = "another copy of the program has held its lock for %d ms";
constexpr const char* kTemporaryMark = ".tmp-";
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

bool WriteAll(int fd, const std::string& bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t written = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (written < 0) {
      if (errno == EINTR)
        continue;
      return false;
    }
    done += static_cast<std::size_t>(written);
  }
  return true;
}

// Replacing a symbolic link by rename would turn it into a plain file, so the
// link's target is the file to replace.
std::string ResolveLinkTarget(const std::string& path) {
  struct stat info {};
  if (::lstat(path.c_str(), &info) != 0 || !S_ISLNK(info.st_mode))
    return path;
  char resolved[PATH_MAX];
  return ::realpath(path.c_str(), resolved) != nullptr ? std::string(resolved) : path;
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

bool WriteFileAtomically(const std::string& path, const std::string& bytes, std::string& error) {
  const std::string target = ResolveLinkTarget(path);
  const std::string temporary = TemporaryPrefix(target) + std::to_string(::getpid());
  // A leftover of a dead process with our number may be anything, a FIFO even;
  // only a file made here and now is written.
  ::unlink(temporary.c_str());
  TDescriptor file(
      ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
  if (file.Get() < 0) {
    error = SystemError();
    return false;
  }
  const bool written = WriteAll(file.Get(), bytes) && ::fsync(file.Get()) == 0;
  const int writeErrno = errno;
  if (!file.Close() || !written) {
    error = std::strerror(written ? errno : writeErrno);
    ::unlink(temporary.c_str());
    return false;
  }
  if (::rename(temporary.c_str(), target.c_str()) != 0) {
    error = SystemError();
    ::unlink(temporary.c_str());
    return false;
  }
  SyncFolder(FolderOf(target));
  return true;
}

void RemoveLeftoverTemporaries(const std::string& path) {
  const std::string target = ResolveLinkTarget(path);
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
  FDescriptor =
      ::open(lockPath.c_str(), O_RDWR | O_CREAT | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, 0600);
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
