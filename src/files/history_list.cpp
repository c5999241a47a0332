#include "files/history_list.h"

#include <algorithm>
#include <cctype>
#include <sys/stat.h>

#include "support/registry_store.h"

namespace pelrow {

namespace {

constexpr const char* SoftwareKey = "\\Software\\";
constexpr const char* ValuePrefix = "File";
constexpr const char* SeparatorCaption = "-";

std::string ValueName(int index) {
  return ValuePrefix + std::to_string(index);
}

bool SameIgnoringCase(const std::string& a, const std::string& b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) ==
                  std::tolower(static_cast<unsigned char>(y));
         });
}

// Letter case is ignored, so a file opened under another spelling on a
// case-insensitive volume keeps its one entry. Two existing files that differ
// only in case are different files here, though, and keep an entry each.
bool SameEntry(const std::string& listed, const std::string& path) {
  if (listed == path)
    return true;
  if (!SameIgnoringCase(listed, path))
    return false;
  struct stat a {
  }, b{};
  if (::stat(listed.c_str(), &a) != 0 || ::stat(path.c_str(), &b) != 0)
    return true;
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// The file-name part; a path that ends in a slash (a root) is shown whole.
std::string CaptionOf(const std::string& path) {
  const std::size_t slash = path.find_last_of('/');
  const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  return name.empty() ? path : name;
}

} // namespace

// ---- TDynamicMenuBase ------------------------------------------------------------

void TDynamicMenuBase::SetRegPath(const std::string& path) {
  FRegPath = path;
  LoadFromRegistry();
}

void TDynamicMenuBase::SetRegKey(const std::string& key) {
  FRegKey = key;
  LoadFromRegistry();
}

void TDynamicMenuBase::SetBaseMenu(TMenuEntries items) {
  if (FHasBaseMenu)
    return;
  FHasBaseMenu = true;
  FItems = std::move(items);
  Changed();
  LoadFromRegistry();
}

void TDynamicMenuBase::SetHelpContext(int helpContext) {
  FHelpContext = helpContext;
  if (FFirstDynamic < 0)
    return;
  for (std::size_t i = static_cast<std::size_t>(FFirstDynamic); i < FItems.size(); ++i)
    FItems[i].HelpContext = helpContext;
  Changed();
}

bool TDynamicMenuBase::LoadingAllowed() const {
  return FHasBaseMenu && !FRegPath.empty() && FRegPath != PlaceholderRegPath;
}

std::string TDynamicMenuBase::KeyPath() const {
  return SoftwareKey + FRegPath + "\\" + FRegKey;
}

void TDynamicMenuBase::Changed() {
  if (OnChange)
    OnChange(*this);
}

void TDynamicMenuBase::LoadFromRegistry() {
  if (FLoadedOnce || !LoadingAllowed())
    return;
  FLoadedOnce = true;
  const auto key = FStore.OpenKey(KeyPath(), false);
  if (!key)
    return;
  for (int index = 0; LoadItem(*key, index); ++index) {
  }
}

void TDynamicMenuBase::SaveToRegistry() {
  if (!LoadingAllowed())
    return;
  auto key = FStore.OpenKey(KeyPath(), true);
  if (!key)
    return;
  // Nothing but the list belongs in the key.
  for (const std::string& name : key->ValueNames())
    key->DeleteValue(name);
  for (int i = 0; i < GetItemCount(); ++i)
    SaveItem(*key, i);
}

// ---- THistoryList ----------------------------------------------------------------

THistoryList::THistoryList(TRegistryStore& store) : TDynamicMenuBase(store) {
  SetRegKey(DefaultRegKey);
}

void THistoryList::SetBaseMenu(TMenuEntries items) {
  if (HasBaseMenu())
    return;
  FItems = std::move(items);
  EnsurePlaceholder();
  TDynamicMenuBase::SetBaseMenu(std::move(FItems));
}

void THistoryList::SetMaxItems(int maxItems) {
  if (maxItems <= 0)
    return;
  const bool dropping = GetItemCount() > maxItems;
  while (GetItemCount() > maxItems)
    FItems.pop_back();
  FMaxItems = maxItems;
  if (dropping)
    Changed();
}

int THistoryList::GetItemCount() const {
  if (!HasBaseMenu() || FFirstDynamic < 0)
    return 0;
  if (FItems.size() == 1 && !FItems[0].Enabled)
    return 0;
  return static_cast<int>(FItems.size()) - FFirstDynamic;
}

const TMenuEntry* THistoryList::GetItem(int index) const {
  if (index < 0 || index >= GetItemCount())
    return nullptr;
  return &FItems[static_cast<std::size_t>(FFirstDynamic + index)];
}

bool THistoryList::PathUsable(const std::string& path) const {
  struct stat info {};
  if (path.empty() || ::stat(path.c_str(), &info) != 0)
    return false;
  return FDirectories == S_ISDIR(info.st_mode);
}

void THistoryList::AddItem(std::string path, bool atTop) {
  if (!HasBaseMenu() || !PathUsable(path))
    return;
  if (FDirectories && path.size() > 1 && path.back() == '/')
    path.pop_back();

  if (GetItemCount() == 0) {
    if (FItems.size() == 1 && !FItems[0].Enabled && FItems[0].Added)
      FItems.clear();
    if (!FItems.empty())
      FItems.push_back({{}, SeparatorCaption, {}, true, true, HelpContext()});
    FFirstDynamic = static_cast<int>(FItems.size());
  }

  const auto first = FItems.begin() + FFirstDynamic;
  const auto found = std::find_if(
      first, FItems.end(), [&](const TMenuEntry& item) { return SameEntry(item.Hint, path); });
  TMenuEntry item;
  if (found == FItems.end()) {
    item = {{}, CaptionOf(path), path, true, true, HelpContext()};
  } else {
    item = std::move(*found);
    FItems.erase(found);
  }

  if (atTop) {
    FItems.insert(FItems.begin() + FFirstDynamic, std::move(item));
    if (GetItemCount() > MaxItems())
      FItems.pop_back();
  } else {
    FItems.push_back(std::move(item));
    if (GetItemCount() > MaxItems())
      FItems.erase(FItems.begin() + FFirstDynamic);
  }
  Changed();
}

void THistoryList::ClickItem(int index) {
  if (FFirstDynamic < 0 || index < FFirstDynamic || index >= static_cast<int>(FItems.size()))
    return;
  const TMenuEntry& item = FItems[static_cast<std::size_t>(index)];
  if (item.IsSeparator() || item.Hint.empty() || !OnClick)
    return;
  // A copy: opening the file reorders the list under the reference.
  const std::string path = item.Hint;
  OnClick(*this, path);
}

bool THistoryList::LoadItem(const TRegKey& key, int index) {
  if (GetItemCount() >= MaxItems())
    return false;
  const auto value = key.ReadValue(ValueName(index));
  if (!value)
    return false;
  // A value that is not text names no file; like a file that is gone, it is
  // passed over and loading goes on.
  if (value->Type == TRegValueType::Text)
    AddItem(value->Text, false);
  return true;
}

void THistoryList::SaveItem(TRegKey& key, int index) {
  key.WriteValue(ValueName(index), TRegValue::FromText(GetItem(index)->Hint));
}

void THistoryList::EnsurePlaceholder() {
  if (FItems.empty())
    FItems.push_back({{}, PlaceholderCaption, {}, false, true, HelpContext()});
  else if (FItems.back().IsSeparator())
    FItems.pop_back();
}

} // namespace pelrow
