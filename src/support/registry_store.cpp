#include "support/registry_store.h"

#include <cerrno>
#include <cstdlib>
#include <pwd.h>
#include <sys/types.h>
#include <unistd.h>

#include "support/file_name_text.h"
#include "support/general_utils.h"
#include "support/private_folder.h"
#include "support/registry_text.h"
#include "support/safe_file.h"
#include "support/text_format.h"
#include "support/trace.h"

namespace pelrow {

namespace {

constexpr const char* kDamagedFileText =
    "The settings file %s was damaged (%s). It was kept as %s and default settings are used.";
constexpr const char* kUnusableFileText =
    "The settings file %s could not be read (%s). Default settings are used.";
constexpr const char* kNotSavedText = "The settings could not be saved to %s (%s).";
constexpr const char* kReadOnlyText =
    "The settings file %s is locked by another copy of Pelrow that does not answer. The "
    "stored settings are used, but changes will not be saved.";
constexpr const char* kReadOnlyFileText = "The settings file %s is read-only. The stored "
                                          "settings are used, but changes will not be saved.";
constexpr const char* kReadOnlyReason = "it was opened read-only";
constexpr const char* kUntrustedFolderText =
    "The settings folder %s cannot be used (%s). Default settings are used, and changes will "
    "not be saved.";
constexpr const char* kUntrustedFolderReason = "its folder cannot be used: %s";
constexpr const char* kDamagedStuckReason = "it is damaged: %s, and could not be set aside: %s";
constexpr const char* kTooLargeReason = "it is larger than any settings file can be";

constexpr const char* kSettingsFolder = "pelrow";
constexpr const char* kSettingsFileName = "registry";
constexpr const char* kDamagedSuffix = ".damaged";
// Settings are the user's own business: a new file is for the owner only. A file
// that exists keeps whatever permissions the user gave it.
constexpr mode_t kNewFileMode = 0600;
// Far above what the program ever writes; a larger file is not ours.
constexpr std::size_t kMaxFileSize = 16 * 1024 * 1024;

std::vector<std::string> NamesOf(const auto& entries, auto nameOf) {
  std::vector<std::string> names;
  names.reserve(entries.size());
  for (const auto& [folded, entry] : entries)
    names.push_back(nameOf(entry));
  return names;
}

std::string UserConfigFolder() {
  const char* xdg = std::getenv("XDG_CONFIG_HOME");
  if (xdg != nullptr && xdg[0] == '/')
    return xdg;
  const char* home = std::getenv("HOME");
  if (home == nullptr || home[0] == '\0') {
    const passwd* user = ::getpwuid(::getuid());
    home = user != nullptr ? user->pw_dir : ".";
  }
  return std::string(home) + "/.config";
}

} // namespace

bool TRegKey::ValueExists(std::string_view name) const {
  return FStore->ReadValue(FPath, name).has_value();
}
std::optional<TRegValue> TRegKey::ReadValue(std::string_view name) const {
  return FStore->ReadValue(FPath, name);
}
void TRegKey::WriteValue(std::string_view name, const TRegValue& value) {
  FStore->WriteValue(FPath, name, value);
}
bool TRegKey::DeleteValue(std::string_view name) {
  return FStore->DeleteValue(FPath, name);
}
std::vector<std::string> TRegKey::ValueNames() const {
  return FStore->ValueNames(FPath);
}
std::vector<std::string> TRegKey::SubKeyNames() const {
  return FStore->SubKeyNames(FPath);
}

TRegistryStore::TRegistryStore(std::string filePath, TLockWait lockWait)
    : FFilePath(std::move(filePath)), FLockWait(std::move(lockWait)) {}

bool TRegistryStore::Load() {
  FRoot = TRegKeyNode();
  FChanges.clear();
  FLastError.clear();
  // A folder that others can change may hold their files and links in place of
  // ours: nothing is read from it, and nothing will be written.
  if (std::string untrusted; FolderUntrusted(untrusted)) {
    FReadOnly = true;
    FLastError = FormatText(kUntrustedFolderText, FileNameText(FolderOf(FFilePath)), untrusted);
    return false;
  }
  // Taking the lock keeps us from setting aside a file that another copy is
  // just replacing; without one (a read-only folder) reading is still safe,
  // because every writer replaces the file in one step.
  TFileLock lock(LockPath(), FLockWait);
  FReadOnly = lock.Busy();
  std::string reason;
  const TFileState state = ReadFileSettingDamageAside(FRoot, reason, !FReadOnly);
  if (state == TFileState::Unusable)
    FLastError = FormatText(kUnusableFileText, ShownPath(), reason);
  else if (FReadOnly)
    FLastError = FormatText(kReadOnlyText, ShownPath());
  else if (state == TFileState::Read && FileIsReadOnly(FFilePath))
    // Said now, while the window shows it: the save at the close would fail unseen.
    FLastError = FormatText(kReadOnlyFileText, ShownPath());
  return state == TFileState::Read || state == TFileState::Missing;
}

bool TRegistryStore::Save() {
  if (FChanges.empty())
    return true;
  std::string reason;
  const auto untrusted = [this](const std::string& why) {
    FLastError = FormatText(kNotSavedText, ShownPath(), FormatText(kUntrustedFolderReason, why));
    return false;
  };
  if (FolderUntrusted(reason))
    return untrusted(reason);
  if (FReadOnly) {
    FLastError = FormatText(kNotSavedText, ShownPath(), kReadOnlyReason);
    return false;
  }
  if (!MakeFolders(FolderOf(FFilePath), reason)) {
    FLastError = FormatText(kNotSavedText, ShownPath(), reason);
    return false;
  }
  // A folder made just now is checked too: one on its way may be another user's.
  if (FolderUntrusted(reason))
    return untrusted(reason);
  TFileLock lock(LockPath(), FLockWait);
  if (!lock.Locked()) {
    FLastError = FormatText(kNotSavedText, ShownPath(), lock.Error());
    return false;
  }
  // Checked before the merge, which would set a damaged read-only file aside.
  if (FileIsReadOnly(FFilePath)) {
    FLastError =
        FormatText(kNotSavedText, ShownPath(), TWriteFailure{TWriteStep::ReadOnly, EACCES}.Text());
    return false;
  }
  // With the lock held no other copy is writing, so a temporary file lying here
  // is what a save that died halfway left behind.
  RemoveLeftoverTemporaries(FFilePath);
  TRegKeyNode merged;
  if (ReadFileSettingDamageAside(merged, reason, true) == TFileState::Unusable) {
    // What we cannot read we must not overwrite: it may hold the user's settings.
    FLastError = FormatText(kNotSavedText, ShownPath(), reason);
    return false;
  }
  for (const auto& change : FChanges)
    Apply(merged, change);
  TWriteFailure failure;
  if (!WriteFileAtomically(FFilePath, FormatRegistryText(merged), failure, kNewFileMode)) {
    FLastError = FormatText(kNotSavedText, ShownPath(), failure.Text());
    return false;
  }
  FRoot = std::move(merged);
  FChanges.clear();
  return true;
}

TRegistryStore::TFileState
TRegistryStore::ReadFileSettingDamageAside(TRegKeyNode& root, std::string& reason, bool setAside) {
  std::string text;
  std::string damage;
  switch (ReadFileBytes(FFilePath, kMaxFileSize, text, reason)) {
  case TReadStatus::Missing:
    return TFileState::Missing;
  case TReadStatus::Failed:
    return TFileState::Unusable;
  case TReadStatus::TooLarge:
    damage = kTooLargeReason;
    break;
  case TReadStatus::Read:
    if (ParseRegistryText(text, root, damage))
      return TFileState::Read;
    break;
  }
  root = TRegKeyNode();
  if (!setAside) {
    reason = damage;
    return TFileState::Unusable;
  }
  std::string moveError;
  const std::string aside = SetFileAside(FFilePath, kDamagedSuffix, moveError);
  if (aside.empty()) {
    reason = FormatText(kDamagedStuckReason, damage, moveError);
    return TFileState::Unusable;
  }
  FLastError = FormatText(kDamagedFileText, ShownPath(), damage, FileNameText(aside));
  Trace(FLastError);
  return TFileState::SetAside;
}

bool TRegistryStore::FolderUntrusted(std::string& reason) const {
  const std::string folder = FolderOf(FFilePath);
  if (!DirExists(folder))
    return false;
  reason = UntrustedFolderReason(folder);
  return !reason.empty();
}

std::string TRegistryStore::ShownPath() const {
  return FileNameText(FFilePath);
}

void TRegistryStore::Change(TChange change) {
  Apply(FRoot, change);
  FChanges.push_back(std::move(change));
}

void TRegistryStore::Apply(TRegKeyNode& root, const TChange& change) {
  switch (change.Kind) {
  case TChange::TKind::CreateKey:
    root.CreatePath(change.Path);
    break;
  case TChange::TKind::DeleteKey:
    root.RemovePath(change.Path);
    break;
  case TChange::TKind::SetValue:
    root.CreatePath(change.Path).SetValue(change.Name, change.Value);
    break;
  case TChange::TKind::DeleteValue:
    if (TRegKeyNode* key = root.FindPath(change.Path))
      key->RemoveValue(change.Name);
    break;
  }
}

bool TRegistryStore::KeyExists(std::string_view path) const {
  return FRoot.FindPath(SplitKeyPath(path)) != nullptr;
}

bool TRegistryStore::CreateKey(std::string_view path) {
  std::vector<std::string> names = SplitKeyPath(path);
  if (names.size() > kMaxKeyDepth)
    return false;
  if (FRoot.FindPath(names) == nullptr)
    Change({TChange::TKind::CreateKey, std::move(names), {}, {}});
  return true;
}

bool TRegistryStore::DeleteKey(std::string_view path) {
  std::vector<std::string> names = SplitKeyPath(path);
  // The user's root itself cannot be deleted.
  if (names.empty() || FRoot.FindPath(names) == nullptr)
    return false;
  Change({TChange::TKind::DeleteKey, std::move(names), {}, {}});
  return true;
}

std::optional<TRegKey> TRegistryStore::OpenKey(std::string_view path, bool canCreate) {
  if (canCreate ? !CreateKey(path) : !KeyExists(path))
    return std::nullopt;
  return TRegKey(*this, std::string(path));
}

std::optional<TRegValue> TRegistryStore::ReadValue(std::string_view path,
                                                   std::string_view name) const {
  const TRegKeyNode* key = FRoot.FindPath(SplitKeyPath(path));
  const TRegValue* value = key != nullptr ? key->FindValue(name) : nullptr;
  return value != nullptr ? std::optional<TRegValue>(*value) : std::nullopt;
}

bool TRegistryStore::WriteValue(std::string_view path, std::string_view name,
                                const TRegValue& value) {
  std::vector<std::string> names = SplitKeyPath(path);
  if (names.size() > kMaxKeyDepth)
    return false;
  // A value written as it already stands is no change, so saving leaves alone
  // what another running copy may have stored there meanwhile.
  if (const TRegKeyNode* key = FRoot.FindPath(names))
    if (const TRegValue* existing = key->FindValue(name); existing != nullptr && *existing == value)
      return true;
  Change({TChange::TKind::SetValue, std::move(names), std::string(name), value});
  return true;
}

bool TRegistryStore::DeleteValue(std::string_view path, std::string_view name) {
  if (!ReadValue(path, name))
    return false;
  Change({TChange::TKind::DeleteValue, SplitKeyPath(path), std::string(name), {}});
  return true;
}

std::vector<std::string> TRegistryStore::ValueNames(std::string_view path) const {
  const TRegKeyNode* key = FRoot.FindPath(SplitKeyPath(path));
  if (key == nullptr)
    return {};
  return NamesOf(key->Values(), [](const auto& entry) { return entry.Name; });
}

std::vector<std::string> TRegistryStore::SubKeyNames(std::string_view path) const {
  const TRegKeyNode* key = FRoot.FindPath(SplitKeyPath(path));
  if (key == nullptr)
    return {};
  return NamesOf(key->SubKeys(), [](const auto& subKey) { return subKey->Name(); });
}

std::string DefaultRegistryFilePath() {
  return UserConfigFolder() + "/" + kSettingsFolder + "/" + kSettingsFileName;
}

TRegistryStore& CurrentUserRegistry() {
  static TRegistryStore& store = []() -> TRegistryStore& {
    static TRegistryStore userStore(DefaultRegistryFilePath());
    userStore.Load();
    return userStore;
  }();
  return store;
}

bool RegKeyExists(const TRegistryStore& root, std::string_view path) {
  return root.KeyExists(path);
}

bool RegDeleteKeyTree(TRegistryStore& root, std::string_view path) {
  return root.DeleteKey(path);
}

} // namespace pelrow
