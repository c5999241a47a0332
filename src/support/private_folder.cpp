#include "support/private_folder.h"

#include "support/safe_file.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace pelrow {

namespace {

constexpr const char* kNotAFolder = "it is not a folder";
constexpr const char* kLinkOfOthers = "it is a link that another user made";
constexpr const char* kFolderOfOthers = "it belongs to another user";
constexpr const char* kOthersMayWrite = "other users may write into it";
constexpr const char* kOthersMayReplace = "other users may replace it";
constexpr const char* kFallbackRuntimeFolder = "/tmp/pelrow-";

constexpr mode_t kOthersWrite = S_IWGRP | S_IWOTH;
constexpr mode_t kOthersAny = S_IRWXG | S_IRWXO;
constexpr mode_t kPrivateFileMode = 0600;

bool OwnedByUser(const struct stat& info) {
  return info.st_uid == ::geteuid();
}

// A folder of the user's own that nobody else may enter; a link is refused unless
// followLink, where the user named the folder.
bool IsPrivateFolder(const std::string& path, bool followLink) {
  struct stat info {};
  const int found = followLink ? ::stat(path.c_str(), &info) : ::lstat(path.c_str(), &info);
  return found == 0 && S_ISDIR(info.st_mode) && OwnedByUser(info) &&
         (info.st_mode & kOthersAny) == 0;
}

// The system's folders are root's; anything else on the way must be the user's.
bool OwnedByUserOrSystem(const struct stat& info) {
  return OwnedByUser(info) || info.st_uid == 0;
}

// Whether somebody else could rename or replace an entry on the way to the
// folder: a folder on the way that is theirs, or that they may write into
// (unless the sticky bit, as on /tmp, keeps them to their own entries).
bool OthersMayReplace(const std::string& folder) {
  for (std::string above = FolderOf(folder);; above = FolderOf(above)) {
    struct stat info {};
    if (::stat(above.c_str(), &info) != 0 || !OwnedByUserOrSystem(info) ||
        ((info.st_mode & kOthersWrite) != 0 && (info.st_mode & S_ISVTX) == 0))
      return true;
    if (above == "/" || above == ".")
      return false;
  }
}

} // namespace

std::string UntrustedFolderReason(const std::string& path) {
  struct stat entry {};
  if (::lstat(path.c_str(), &entry) != 0)
    return std::strerror(errno);
  if (S_ISLNK(entry.st_mode) && !OwnedByUserOrSystem(entry))
    return kLinkOfOthers;
  char* resolved = ::realpath(path.c_str(), nullptr);
  if (resolved == nullptr)
    return std::strerror(errno);
  const std::string folder = resolved;
  std::free(resolved);
  struct stat info {};
  if (::stat(folder.c_str(), &info) != 0)
    return std::strerror(errno);
  if (!S_ISDIR(info.st_mode))
    return kNotAFolder;
  if (!OwnedByUser(info))
    return kFolderOfOthers;
  if ((info.st_mode & kOthersWrite) != 0)
    return kOthersMayWrite;
  // Checked after the link is followed, so a swap after this check cannot send
  // our files anywhere else.
  if (OthersMayReplace(folder))
    return kOthersMayReplace;
  return {};
}

std::string PrivateRuntimeFolder() {
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  return PrivateRuntimeFolder(runtime != nullptr ? runtime : "",
                              kFallbackRuntimeFolder + std::to_string(::geteuid()));
}

std::string PrivateRuntimeFolder(const std::string& runtimeFolder, const std::string& fallback) {
  if (runtimeFolder.starts_with('/') && IsPrivateFolder(runtimeFolder, true))
    return runtimeFolder;
  // The name is known to everybody, so another user may have taken it first; then
  // there is no private place, and the program runs without meeting its copies.
  ::mkdir(fallback.c_str(), 0700);
  return IsPrivateFolder(fallback, false) ? fallback : std::string();
}

int OpenPrivateLockFile(const std::string& path) {
  constexpr int kFlags = O_RDWR | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC;
  int fd = ::open(path.c_str(), kFlags | O_CREAT | O_EXCL, kPrivateFileMode);
  if (fd >= 0) {
    // The umask may have taken bits away; the check below wants exactly these.
    ::fchmod(fd, kPrivateFileMode);
    return fd;
  }
  if (errno != EEXIST)
    return -1;
  fd = ::open(path.c_str(), kFlags);
  if (fd < 0)
    return -1;
  struct stat info {};
  if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) || !OwnedByUser(info) ||
      (info.st_mode & 07777) != kPrivateFileMode) {
    ::close(fd);
    return -1;
  }
  return fd;
}

} // namespace pelrow
