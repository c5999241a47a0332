// The per-user settings store, which stands in for the current user's registry:
// a tree of keys with typed values, kept in one text file (by default
// $XDG_CONFIG_HOME/pelrow/registry, see registry_text.h for the format).
//
// The program loads the store once at start-up and saves it once at shutdown;
// in between every read and write goes to memory. A save takes a lock, re-reads
// the file and applies only this process's own changes before replacing the file
// atomically, so a second running copy's settings survive. A damaged file is set
// aside under a new name and the program goes on with defaults; LastError then
// holds a message for the user. A file the user made read-only is never
// replaced: Load says so, and Save fails. When another copy holds the lock for longer than
// a start may wait (it hangs), the file is read all the same, the store turns
// read-only for the rest of the run, and LastError says so. A settings folder
// that other users could change is neither read nor written. Used from the UI
// thread only.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "support/registry_tree.h"
#include "support/safe_file.h"

namespace pelrow {

class TRegistryStore;

// An open key: a store and a key path. Operations go through the store, so a
// key deleted meanwhile simply reads as empty.
class TRegKey {
public:
  TRegKey(TRegistryStore& store, std::string path) : FStore(&store), FPath(std::move(path)) {}

  const std::string& Path() const { return FPath; }
  bool ValueExists(std::string_view name) const;
  std::optional<TRegValue> ReadValue(std::string_view name) const;
  void WriteValue(std::string_view name, const TRegValue& value);
  bool DeleteValue(std::string_view name);
  std::vector<std::string> ValueNames() const;
  std::vector<std::string> SubKeyNames() const;

private:
  TRegistryStore* FStore;
  std::string FPath;
};

class TRegistryStore {
public:
  explicit TRegistryStore(std::string filePath, TLockWait lockWait = {});

  const std::string& FilePath() const { return FFilePath; }

  // Replaces the memory with the file's content (nothing when there is no file)
  // and forgets unsaved changes. False when the file could not be used; the store
  // is then empty, so every reader gets its default, and LastError says why.
  bool Load();
  // Writes this process's changes since the last Load or Save into the file.
  // False when nothing could be written (LastError says why); the changes are
  // then kept, so a later Save can try again.
  bool Save();
  bool HasUnsavedChanges() const { return !FChanges.empty(); }
  // The last Load could not take the lock in time: saves write nothing.
  bool ReadOnly() const { return FReadOnly; }

  // The last problem with the file, for the user; empty when there was none.
  const std::string& LastError() const { return FLastError; }
  void ClearLastError() { FLastError.clear(); }

  // Key paths are backslash-separated and relative to the user's root; a leading
  // backslash is allowed. Lookups ignore ASCII case.
  bool KeyExists(std::string_view path) const;
  // Answers false only for a path nested deeper than the registry allows.
  bool CreateKey(std::string_view path);
  // Deletes the key with everything below it; false when it does not exist.
  bool DeleteKey(std::string_view path);
  std::optional<TRegKey> OpenKey(std::string_view path, bool canCreate);

  std::optional<TRegValue> ReadValue(std::string_view path, std::string_view name) const;
  // Creates the key when needed. Writing a value as it already stands is no
  // change: the next save leaves that value in the file as it finds it.
  bool WriteValue(std::string_view path, std::string_view name, const TRegValue& value);
  bool DeleteValue(std::string_view path, std::string_view name);
  std::vector<std::string> ValueNames(std::string_view path) const;
  std::vector<std::string> SubKeyNames(std::string_view path) const;

private:
  struct TChange {
    enum class TKind { CreateKey, DeleteKey, SetValue, DeleteValue };
    TKind Kind;
    std::vector<std::string> Path;
    std::string Name;
    TRegValue Value;
  };

  enum class TFileState { Read, Missing, SetAside, Unusable };

  // Every change is applied to memory and remembered for the next save.
  void Change(TChange change);
  static void Apply(TRegKeyNode& root, const TChange& change);
  // Reads the file into root; a damaged file is renamed out of the way (LastError
  // tells the user), but only when setAside allows it, that is with the lock held,
  // and otherwise is Unusable. Unusable comes with the reason.
  TFileState ReadFileSettingDamageAside(TRegKeyNode& root, std::string& reason, bool setAside);
  std::string LockPath() const { return FFilePath + ".lock"; }
  // The folder exists, but others can change what is in it (reason says how), so
  // nothing of ours is read from it or written into it.
  bool FolderUntrusted(std::string& reason) const;
  // The file's path as the user's messages show it.
  std::string ShownPath() const;

  std::string FFilePath;
  TLockWait FLockWait;
  bool FReadOnly = false;
  TRegKeyNode FRoot;
  std::vector<TChange> FChanges;
  std::string FLastError;
};

// The location of the current user's settings file: $XDG_CONFIG_HOME/pelrow/registry,
// with ~/.config in place of $XDG_CONFIG_HOME when it is unset or not absolute.
std::string DefaultRegistryFilePath();

// The current user's store at the default location, loaded on first use.
TRegistryStore& CurrentUserRegistry();

// Registry helpers in the form the rest of the program calls them.
bool RegKeyExists(const TRegistryStore& root, std::string_view path);
bool RegDeleteKeyTree(TRegistryStore& root, std::string_view path);

} // namespace pelrow
