// Careful whole-file reading and writing for files the user must never lose: a
// bounded read that tells "missing" from "unreadable", a write that replaces a
// regular file atomically (temporary file, fsync, rename) and writes a device,
// FIFO or one of our own descriptors in place, an advisory lock that keeps
// two running copies from interleaving their writes, and setting a damaged file
// aside instead of overwriting it. Nothing here waits without end: a FIFO or a
// device in place of a file is refused before it is read, and a lock is waited for
// a bounded time.
#pragma once

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <string_view>
#include <sys/types.h>
#include <unordered_set>
#include <vector>

#include "support/clock.h"

namespace pelrow {

enum class TReadStatus { Read, Missing, TooLarge, Failed };

// Reads the whole file into bytes. Missing is a file that does not exist;
// Failed carries the reason in error, also for anything but a regular file.
TReadStatus ReadFileBytes(const std::string& path, std::size_t maxBytes, std::string& bytes,
                          std::string& error);

// The step of WriteFileAtomically that failed.
enum class TWriteStep {
  FollowLink,      // reading a symbolic link on the way to the file
  ReadOnly,        // the file is read-only (Errno is EACCES): it was left alone
  CreateTemporary, // creating the new file beside the old one
  Write,
  Sync,
  Close,
  Replace, // renaming the new file over the old one
};

struct TWriteFailure {
  TWriteFailure() = default;
  TWriteFailure(TWriteStep step, int error) : Step(step), Errno(error) {}
  TWriteStep Step = TWriteStep::Write;
  int Errno = 0;
  // The step and the system's reason, for a message ("writing the new file: No
  // space left on device").
  std::string Text() const;
};

// Where output goes. A regular file, or a name that does not exist yet, is written
// to a temporary file beside it that replaces it at Commit in one step: readers see
// the old file or the new one, never a mix, and a failure or an abandoned write
// leaves the old file as it was. Anything else -- a device such as /dev/null, a
// FIFO, a pipe -- cannot be replaced without destroying it, so it is written in
// place, as a shell redirection writes it; "/dev/stdout", "/dev/stderr",
// "/dev/fd/N" and "/proc/self/fd/N" are our own descriptors and are written as they
// are. Every write is checked; a failed write (EPIPE included) is kept as the
// failure and every later call answers false.
class TOutputTarget {
public:
  TOutputTarget() = default;
  ~TOutputTarget(); // an uncommitted temporary file is removed
  TOutputTarget(const TOutputTarget&) = delete;
  TOutputTarget& operator=(const TOutputTarget&) = delete;

  // Opens path; newFileMode as for WriteFileAtomically. Opening a FIFO waits for
  // its reader (a signal ends the wait with EINTR), or with waitForReader false
  // fails at once (ENXIO) when there is none.
  bool Open(const std::string& path, mode_t newFileMode = 0600, bool waitForReader = true);
  // Writes to a descriptor we hold already (standard output), in place.
  void OpenDescriptor(int fd);
  // Buffered; false once anything failed.
  bool Write(std::string_view bytes);
  // Passes the buffered bytes on (in place: to the reader at once).
  bool Flush();
  // Finishes the output: the regular file is put in place.
  bool Commit();
  // Gives up: the temporary file is removed, the old file stays.
  void Abandon();

  bool IsOpen() const { return FFd >= 0; }
  bool InPlace() const { return FInPlace; }
  bool Failed() const { return FFailed; }
  const TWriteFailure& Failure() const { return FFailure; }
  // The reader of a pipe has gone away.
  bool BrokenPipe() const { return FFailed && FFailure.Errno == EPIPE; }

private:
  friend class TFileBatch;
  bool Fail(TWriteStep step, int error);
  bool WriteOut(const char* data, std::size_t size);
  // Writes out and closes a temporary file without waiting for the disk, and hands
  // it over to be put in place later (temporary left empty when the output was
  // written in place, which is then finished).
  bool HandOver(std::string& temporary, std::string& target);

  int FFd = -1;
  bool FOwnsFd = false;
  bool FInPlace = false;
  bool FFailed = false;
  TWriteFailure FFailure;
  std::string FTarget, FTemporary;
  std::string FBuffer;
};

// Replaces the file's content in one step: readers see the old file or the new
// one, never a mix, even if the program dies halfway. A symbolic link is kept and
// its target replaced, or created when the link dangles. The file keeps its
// permissions; a file that did not exist gets newFileMode less the umask. A file
// that is read-only for us is not replaced: the write fails as writing into it
// would. A device or FIFO is written in place (see TOutputTarget).
bool WriteFileAtomically(const std::string& path, const std::string& bytes, TWriteFailure& failure,
                         mode_t newFileMode = 0600);

// Many files written as safely as by WriteFileAtomically, but with one wait for the
// disk instead of one per file: each is written to a temporary file beside it, the
// file systems are synced once at Commit, and only then is every file renamed into
// place and each folder synced. After a crash every file is old or new, never a
// mix; once Commit answers true all of them are on disk. A temporary file that was
// not put in place is removed, also when the batch is dropped before Commit.
class TFileBatch {
public:
  TFileBatch() = default;
  ~TFileBatch();
  TFileBatch(const TFileBatch&) = delete;
  TFileBatch& operator=(const TFileBatch&) = delete;

  // As WriteFileAtomically, up to the wait for the disk; a device or FIFO is written
  // in place at once.
  bool Write(const std::string& path, std::string_view bytes, mode_t newFileMode = 0600);
  // Puts every file written so far in place.
  bool Commit();
  // Files written and not yet put in place.
  std::size_t Pending() const { return FPending.size(); }

  // The first failure, and the path given to Write of the file it concerns.
  const TWriteFailure& Failure() const { return FFailure; }
  const std::string& FailedPath() const { return FFailedPath; }

private:
  struct TPending {
    std::string Path, Temporary, Target;
  };
  struct TFolder {
    int Fd = -1;
    std::string Real; // the same folder by other names is the same here
  };
  bool Fail(const std::string& path, const TWriteFailure& failure);
  // Syncs the file system of every folder that holds a pending file.
  bool SyncFileSystems();
  void Abandon();

  std::vector<TPending> FPending;
  // By real folder and name: two temporary files of one target would be one.
  std::unordered_set<std::string> FPendingTargets;
  // Opened before the first file in them is written: syncfs reports only the
  // write-back failures that happened since.
  std::map<std::string, TFolder> FFolders;
  TWriteFailure FFailure;
  std::string FFailedPath;
};

// Whether the file (links followed) exists and may not be written by us. The
// superuser may write anything, so for it a file without any write permission
// counts as read-only too: the user marked it so.
bool FileIsReadOnly(const std::string& path);

// Removes the temporary files that WriteFileAtomically left beside the file when a
// process died halfway through. Call it only while holding the lock that every
// writer of the file takes, or it may remove another copy's write in progress.
void RemoveLeftoverTemporaries(const std::string& path);

// Creates the folder and its missing parents (mode 0700 for new ones).
bool MakeFolders(const std::string& path, std::string& error);

// Renames the file to path + suffix + "-YYYYMMDD-HHMMSS" (plus "-N" if that name
// is taken) and answers the new name, or empty with error set.
std::string SetFileAside(const std::string& path, const std::string& suffix, std::string& error);

// How long a lock is waited for. A copy of the program that hangs while it holds
// the lock must not hang every later start too. Clock and Pause are there for
// tests; an empty Pause sleeps the thread.
struct TLockWait {
  uint32_t LimitMs = 2000;
  TClock* Clock = &SteadyClock();
  std::function<void(uint32_t ms)> Pause;
};

// An exclusive advisory lock (flock) on a separate lock file, held for the life of
// the object. The lock file itself stays in place: deleting it would let two
// processes lock different files of the same name. A link in its place is
// refused, never followed: nothing is created where it points.
class TFileLock {
public:
  explicit TFileLock(const std::string& lockPath, const TLockWait& wait = {});
  ~TFileLock();
  TFileLock(const TFileLock&) = delete;
  TFileLock& operator=(const TFileLock&) = delete;

  bool Locked() const { return FDescriptor >= 0; }
  // Another process held the lock for the whole wait.
  bool Busy() const { return FBusy; }
  const std::string& Error() const { return FError; }

private:
  int FDescriptor = -1;
  bool FBusy = false;
  std::string FError;
};

// The folder part of a path ("." when it has none).
std::string FolderOf(const std::string& path);

} // namespace pelrow
