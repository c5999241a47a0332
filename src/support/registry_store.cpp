#include "support/registry_store.h"

#include <cstdlib>
#include <initializer_list>
#include <pwd.h>
#include <unistd.h>

#include "support/registry_text.h"
#include "support/safe_file.h"
#include "support/trace.h"

namespace pelrow {

namespace {

constexpr const char* kDamagedFileText =
    "The settings file %s was damaged (%s). It was kept as %s and default settings are used.";
constexpr const char* kUnusableFileText =
    "The settings file %s could not be read (%s). Default settings are used.";
constexpr const char* kNotSavedText = "The settings could not be saved to %s (%s).";
constexpr const char* kDamagedStuckReason = "it is damaged: %s, and could not be set aside: %s";
constexpr const char* kTooLargeReason = "it is larger than any settings file can be";

constexpr const char* kSettingsFolder = "pelrow";
constexpr const char* kSettingsFileName = "registry";
constexpr const char* kDamagedSuffix = ".damaged";
// Far above what the program ever writes; a larger file is not ours.
constexpr std::size_t kMaxFileSize = 16 * 1024 * 1024;

// Puts the arguments in place of the pattern's "%s" marks, in order.
std::string FillIn(std::string_view pattern, std::initializer_list<std::string_view> args) {
  std::string text;
  auto arg = args.begin();
  for (std::size_t at = 0; at < pattern.size(); ++at) {
    if (pattern.compare(at, 2, "%s") == 0 && arg != args.end()) {
      text += *arg++;
      ++at;
    } else {
      text += pattern[at];
    }
  }
  return text;
}

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

TRegistryStore::TRegistryStore(std::string filePath) : FFilePath(std::move(filePath)) {}

bool TRegistryStore::Load() {
  FRoot = TRegKeyNode();
  FChanges.clear();
  FLastError.clear();
  // Taking the lock keeps us from setting aside a file that another copy is
  // just replacing; without one (a read-only folder) reading is still safe.
  TFileLock lock(LockPath());
  std::string reason;
  const TFileState state = ReadFile(FRoot, reason);
  if (state == TFileState::Unusable)
    FLastError = FillIn(kUnusableFileText, {FFilePath, reason});
  return state == TFileState::Read || state == TFileState::Missing;
}

bool TRegistryStore::Save() {
  if (FChanges.empty())
    return true;
  std::string reason;
  if (!MakeFolders(FolderOf(FFilePath), reason)) {
    FLastError = FillIn(kNotSavedText, {FFilePath, reason});
    return false;
  }
  TFileLock lock(LockPath());
  if (!lock.Locked()) {
    FLastError = FillIn(kNotSavedText, {FFilePath, lock.Error()});
    return false;
  }
  TRegKeyNode merged;
  if (ReadFile(merged, reason) == TFileState::Unusable) {
    // What we cannot read we must not overwrite: it may hold the user's settings.
    FLastError = FillIn(kNotSavedText, {FFilePath, reason});
    return false;
  }
  for (const auto& change : FChanges)
    Apply(merged, change);
  if (!WriteFileAtomically(FFilePath, FormatRegistryText(merged), reason)) {
    FLastError = FillIn(kNotSavedText, {FFilePath, reason});
    return false;
  }
  FRoot = std::move(merged);
  FChanges.clear();
  return true;
}

TRegistryStore::TFileState TRegistryStore::ReadFile(TRegKeyNode& root, std::string& reason) {
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
  std::string moveError;
  const std::string aside = SetFileAside(FFilePath, kDamagedSuffix, moveError);
  if (aside.empty()) {
    reason = FillIn(kDamagedStuckReason, {damage, moveError});
    return TFileState::Unusable;
  }
  FLastError = FillIn(kDamagedFileText, {FFilePath, damage, aside});
  Trace(FLastError);
  return TFileState::SetAside;
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
