// Careful whole-file reading and writing for files the user must never lose: a
// bounded read that tells "missing" from "unreadable", a write that replaces the
// file atomically (temporary file, fsync, rename), an advisory lock that keeps
// two running copies from interleaving their writes, and setting a damaged file
// aside instead of overwriting it.
#pragma once

#include <cstddef>
#include <string>

namespace pelrow {

enum class TReadStatus { Read, Missing, TooLarge, Failed };

// Reads the whole file into bytes. Missing is a file that does not exist;
// Failed carries the system's reason in error.
TReadStatus ReadFileBytes(const std::string& path, std::size_t maxBytes, std::string& bytes,
                          std::string& error);

// Replaces the file's content in one step: readers see the old file or the new
// one, never a mix, even if the program dies halfway. A symbolic link is kept and
// its target replaced.
bool WriteFileAtomically(const std::string& path, const std::string& bytes, std::string& error);

// Creates the folder and its missing parents (mode 0700 for new ones).
bool MakeFolders(const std::string& path, std::string& error);

// Renames the file to path + suffix + "-YYYYMMDD-HHMMSS" (plus "-N" if that name
// is taken) and answers the new name, or empty with error set.
std::string SetFileAside(const std::string& path, const std::string& suffix, std::string& error);

// An exclusive advisory lock (flock) on a separate lock file, held for the life of
// the object. The lock file itself stays in place: deleting it would let two
// processes lock different files of the same name.
class TFileLock {
public:
  explicit TFileLock(const std::string& lockPath);
  ~TFileLock();
  TFileLock(const TFileLock&) = delete;
  TFileLock& operator=(const TFileLock&) = delete;

  bool Locked() const { return FDescriptor >= 0; }
  const std::string& Error() const { return FError; }

private:
  int FDescriptor = -1;
  std::string FError;
};

// The folder part of a path ("." when it has none).
std::string FolderOf(const std::string& path);

} // namespace pelrow
