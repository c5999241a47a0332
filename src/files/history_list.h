// The recent-files list at the end of the File menu, as a menu model: the items of
// its base menu (the window's own ones and those the list adds: a placeholder, a
// separator and one entry per file, newest first), which the window mirrors into
// its real menu whenever OnChange fires. The list is kept in the settings store
// as text values File0, File1, ... under its key; File0 is the newest.
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace pelrow {

class TRegistryStore;
class TRegKey;

// One item of the base menu.
struct TMenuEntry {
  std::string Name;    // the window's own items: their component name; added items: empty
  std::string Caption; // "-" for a separator
  std::string Hint;    // an entry's full path, which is its identity
  bool Enabled = true;
  bool Added = false; // added by the list: placeholder, separator or entry
  int HelpContext = 0;

  bool IsSeparator() const { return Caption == "-"; }
};

using TMenuEntries = std::vector<TMenuEntry>;

// What a menu filled at run time has in common, whatever its items mean: the
// settings location, the base menu, and loading and saving the items.
class TDynamicMenuBase {
public:
  // Loading and saving stay off while RegPath is this placeholder.
  static constexpr const char* PlaceholderRegPath = "Company\\Program Name";

  explicit TDynamicMenuBase(TRegistryStore& store) : FStore(store) {}
  virtual ~TDynamicMenuBase() = default;
  TDynamicMenuBase(const TDynamicMenuBase&) = delete;
  TDynamicMenuBase& operator=(const TDynamicMenuBase&) = delete;

  const std::string& RegPath() const { return FRegPath; }
  // Path below "\Software"; setting it (or RegKey) loads the list when it can.
  void SetRegPath(const std::string& path);
  const std::string& RegKey() const { return FRegKey; }
  void SetRegKey(const std::string& key);

  // The base menu's items before the list adds any. It can be set only once; a
  // second call is ignored.
  virtual void SetBaseMenu(TMenuEntries items);
  bool HasBaseMenu() const { return FHasBaseMenu; }
  // Every item of the base menu, the window's and the added ones, in order.
  const TMenuEntries& Items() const { return FItems; }

  int HelpContext() const { return FHelpContext; }
  void SetHelpContext(int helpContext);

  // Called once the owner has set everything up; loads the list when it can.
  void Loaded() { LoadFromRegistry(); }
  // Reads the list once, when a base menu is set and RegPath is a real path.
  void LoadFromRegistry();
  // Rewrites the key with the current list (the owner calls it when it closes).
  void SaveToRegistry();

  // The items changed; the window mirrors Items() into its menu.
  std::function<void(TDynamicMenuBase& sender)> OnChange;

protected:
  virtual int GetItemCount() const = 0;
  // Reads entry index and adds it; false ends loading.
  virtual bool LoadItem(const TRegKey& key, int index) = 0;
  virtual void SaveItem(TRegKey& key, int index) = 0;

  bool LoadingAllowed() const;
  std::string KeyPath() const;
  void Changed();

  TMenuEntries FItems;
  // Index within the base menu's items of the first added entry; -1 before any.
  int FFirstDynamic = -1;

private:
  TRegistryStore& FStore;
  std::string FRegPath = PlaceholderRegPath;
  std::string FRegKey;
  bool FHasBaseMenu = false;
  bool FLoadedOnce = false;
  int FHelpContext = 0;
};

class THistoryList : public TDynamicMenuBase {
public:
  // The caption of the disabled item that stands in an otherwise empty menu.
  static constexpr const char* PlaceholderCaption = "(none)";
  static constexpr const char* DefaultRegKey = "MRUList";

  explicit THistoryList(TRegistryStore& store);

  void SetBaseMenu(TMenuEntries items) override;

  int MaxItems() const { return FMaxItems; }
  // At least 1; smaller values are ignored. Fewer than listed drops the oldest.
  void SetMaxItems(int maxItems);
  // Entries are folders instead of files.
  bool Directories() const { return FDirectories; }
  void SetDirectories(bool directories) { FDirectories = directories; }

  // Number of entries (the placeholder and the separator do not count).
  int Count() const { return GetItemCount(); }
  // The i-th entry, 0 the newest; nullptr when there is none.
  const TMenuEntry* GetItem(int index) const;

  // Puts the file at the top: a listed one moves there, a new one is added and the
  // oldest falls off beyond MaxItems. A path that does not exist is not added.
  void AddFile(const std::string& path) { AddItem(path, true); }
  void AddItem(std::string path, bool atTop);

  // The window's item at index (within Items()) was clicked: an entry reports its
  // path through OnClick. The list keeps its order; opening the file moves it.
  void ClickItem(int index);
  std::function<void(THistoryList& sender, const std::string& fileName)> OnClick;

protected:
  int GetItemCount() const override;
  bool LoadItem(const TRegKey& key, int index) override;
  void SaveItem(TRegKey& key, int index) override;

private:
  void EnsurePlaceholder();
  bool PathUsable(const std::string& path) const;

  int FMaxItems = 4;
  bool FDirectories = false;
};

} // namespace pelrow
