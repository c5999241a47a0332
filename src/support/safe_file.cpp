#include "support/safe_file.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace pelrow {

namespace {

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
  TDescriptor file(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
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
    error = std::strerror(S_ISDIR(info.st_mode) ? EISDIR : EINVAL);
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
  const std::string temporary = target + ".tmp-" + std::to_string(::getpid());
  TDescriptor file(::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600));
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

TFileLock::TFileLock(const std::string& lockPath) {
  FDescriptor = ::open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  if (FDescriptor < 0) {
    FError = SystemError();
    return;
  }
  while (::flock(FDescriptor, LOCK_EX) != 0) {
    if (errno == EINTR)
      continue;
    FError = SystemError();
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
