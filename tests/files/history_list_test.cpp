// The recent-files list on real files in a scratch folder and a settings store in
// memory: its place in the File menu, ordering, the limit, loading and saving.
#include "files/history_list.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <unistd.h>

#include "support/registry_store.h"
#include "support/scratch_folder.h"

namespace pelrow {
namespace {

using TNames = std::vector<std::string>;

const char* const AppPath = "Narvell\\Pelrow\\pelrow";
const char* const ListKey = "\\Software\\Narvell\\Pelrow\\pelrow\\MRUList";

TMenuEntries FileMenu() {
  return {
      {"Open1", "&Open", ""}, {"SaveOutAs1", "&Save Midi Out As...", ""}, {"Exit1", "E&xit", ""}};
}

class HistoryList : public ::testing::Test {
protected:
  HistoryList() : FStore(FFolder.Path("registry")), FList(FStore) {
    FList.OnChange = [this](TDynamicMenuBase&) { ++FChanges; };
  }

  std::string File(const std::string& name) {
    const std::string path = FFolder.Path(name);
    WriteWholeFile(path, "x");
    return path;
  }

  // The captions of the whole menu, window items included.
  TNames Captions() const {
    TNames captions;
    for (const TMenuEntry& item : FList.Items())
      captions.push_back(item.Caption);
    return captions;
  }

  TNames Paths() const {
    TNames paths;
    for (int i = 0; i < FList.Count(); ++i)
      paths.push_back(FList.GetItem(i)->Hint);
    return paths;
  }

  void StoreValue(const std::string& name, const std::string& path) {
    FStore.WriteValue(ListKey, name, TRegValue::FromText(path));
  }

  TScratchFolder FFolder;
  TRegistryStore FStore;
  THistoryList FList;
  int FChanges = 0;
};

TEST_F(HistoryList, FirstFileGoesBelowASeparatorAfterTheWindowsItems) {
  FList.SetBaseMenu(FileMenu());
  EXPECT_EQ(FList.Count(), 0);
  const std::string song = File("song.syx");
  FList.AddFile(song);
  EXPECT_EQ(Captions(), (TNames{"&Open", "&Save Midi Out As...", "E&xit", "-", "song.syx"}));
  EXPECT_EQ(FList.GetItem(0)->Hint, song);
  EXPECT_GT(FChanges, 0);

  // A menu of its own shows a disabled placeholder until the first file comes.
  THistoryList alone(FStore);
  alone.SetBaseMenu({});
  ASSERT_EQ(alone.Items().size(), 1u);
  EXPECT_EQ(alone.Items()[0].Caption, "(none)");
  EXPECT_FALSE(alone.Items()[0].Enabled);
  EXPECT_EQ(alone.Count(), 0);
  EXPECT_EQ(alone.GetItem(0), nullptr);
  alone.AddFile(song);
  ASSERT_EQ(alone.Items().size(), 1u);
  EXPECT_EQ(alone.Items()[0].Caption, "song.syx");
  EXPECT_EQ(alone.Count(), 1);
}

TEST_F(HistoryList, NewestOnTopAndAtMostMaxItems) {
  FList.SetBaseMenu(FileMenu());
  FList.SetMaxItems(6);
  TNames files;
  for (int i = 1; i <= 7; ++i)
    files.push_back(File("f" + std::to_string(i) + ".syx"));
  for (const std::string& file : files)
    FList.AddFile(file);
  EXPECT_EQ(Paths(), (TNames{files[6], files[5], files[4], files[3], files[2], files[1]}));

  // A listed file moves up without growing the list; a missing one is not added.
  FList.AddFile(files[3]);
  FList.AddFile(FFolder.Path("missing.syx"));
  FList.AddFile(FFolder.Path());
  EXPECT_EQ(Paths(), (TNames{files[3], files[6], files[5], files[4], files[2], files[1]}));

  FList.SetMaxItems(0);
  EXPECT_EQ(FList.MaxItems(), 6);
  FList.SetMaxItems(2);
  EXPECT_EQ(Paths(), (TNames{files[3], files[6]}));
}

TEST_F(HistoryList, SameFileUnderAnotherCaseMovesUpAndKeepsItsEntry) {
  FList.SetBaseMenu(FileMenu());
  const std::string dump = File("Dump.syx");
  const std::string other = File("other.syx");
  // The same file under a name that differs only in case, as a case-insensitive
  // volume shows it.
  const std::string upper = FFolder.Path("DUMP.SYX");
  ASSERT_EQ(::link(dump.c_str(), upper.c_str()), 0);
  FList.AddFile(dump);
  FList.AddFile(other);
  FList.AddFile(upper);
  EXPECT_EQ(Paths(), (TNames{dump, other}));
  EXPECT_EQ(FList.GetItem(0)->Caption, "Dump.syx");

  // Two different files whose names differ only in case keep an entry each.
  const std::string lower = File("dump.syx");
  FList.AddFile(lower);
  EXPECT_EQ(Paths(), (TNames{lower, dump, other}));
}

TEST_F(HistoryList, ClickReportsThePathAndKeepsTheOrder) {
  FList.SetBaseMenu(FileMenu());
  const std::string a = File("a.syx");
  const std::string b = File("b.txt");
  FList.AddFile(a);
  FList.AddFile(b);
  TNames clicked;
  FList.OnClick = [&](THistoryList&, const std::string& path) { clicked.push_back(path); };
  for (int index = 0; index < int(FList.Items().size()) + 1; ++index)
    FList.ClickItem(index);
  EXPECT_EQ(clicked, (TNames{b, a})) << "window items and the separator report nothing";
  EXPECT_EQ(Paths(), (TNames{b, a}));
}

TEST_F(HistoryList, LoadsUpToTheFirstMissingValueAndDropsFilesThatAreGone) {
  const std::string a = File("a.syx");
  const std::string b = File("b.syx");
  const std::string c = File("c.syx");
  StoreValue("File0", a);
  StoreValue("File1", FFolder.Path("deleted.syx"));
  StoreValue("File2", b);
  StoreValue("File4", c);

  FList.SetBaseMenu(FileMenu());
  FList.SetMaxItems(6);
  EXPECT_EQ(FList.Count(), 0) << "nothing is read under the placeholder path";
  FList.SetRegPath(AppPath);
  EXPECT_EQ(Paths(), (TNames{a, b}));

  // The list is read once: later changes of the store are not taken.
  StoreValue("File3", c);
  FList.SetRegPath(AppPath);
  FList.Loaded();
  EXPECT_EQ(Paths(), (TNames{a, b}));
}

TEST_F(HistoryList, LoadingStopsAtMaxItems) {
  for (int i = 0; i < 8; ++i)
    StoreValue("File" + std::to_string(i), File("f" + std::to_string(i)));
  FList.SetBaseMenu(FileMenu());
  FList.SetMaxItems(6);
  FList.SetRegPath(AppPath);
  ASSERT_EQ(FList.Count(), 6);
  EXPECT_EQ(FList.GetItem(5)->Hint, FFolder.Path("f5"));
}

TEST_F(HistoryList, SavingWritesTheListAndNothingElse) {
  StoreValue("File0", FFolder.Path("deleted.syx"));
  StoreValue("File7", "stale");
  FStore.WriteValue(ListKey, "Other", TRegValue::FromInteger(3));
  FList.SetBaseMenu(FileMenu());
  FList.SetRegPath(AppPath);
  const std::string a = File("a.syx");
  const std::string b = File("b.syx");
  FList.AddFile(a);
  FList.AddFile(b);
  FList.SaveToRegistry();
  EXPECT_EQ(FStore.ValueNames(ListKey), (TNames{"File0", "File1"}));
  EXPECT_EQ(FStore.ReadValue(ListKey, "File0")->Text, b);
  EXPECT_EQ(FStore.ReadValue(ListKey, "File1")->Text, a);

  // An empty list clears the key: here both files are gone at the next start.
  std::filesystem::remove(a);
  std::filesystem::remove(b);
  THistoryList empty(FStore);
  empty.SetBaseMenu(FileMenu());
  empty.SetRegPath(AppPath);
  EXPECT_EQ(empty.Count(), 0);
  empty.SaveToRegistry();
  EXPECT_TRUE(FStore.KeyExists(ListKey));
  EXPECT_TRUE(FStore.ValueNames(ListKey).empty());
}

TEST_F(HistoryList, PlaceholderPathNeverTouchesTheStore) {
  const std::string placeholderKey = "\\Software\\Company\\Program Name\\MRUList";
  FStore.WriteValue(placeholderKey, "File0", TRegValue::FromText(File("a.syx")));
  ASSERT_TRUE(FStore.Save());
  FList.SetBaseMenu(FileMenu());
  FList.Loaded();
  EXPECT_EQ(FList.Count(), 0);
  FList.AddFile(File("b.syx"));
  FList.SaveToRegistry();
  EXPECT_FALSE(FStore.HasUnsavedChanges());
  EXPECT_EQ(FStore.ValueNames(placeholderKey), TNames{"File0"});

  // An empty path does not either.
  FList.SetRegPath("");
  FList.SaveToRegistry();
  EXPECT_FALSE(FStore.HasUnsavedChanges());
}

TEST_F(HistoryList, FolderEntriesLoseTheirTrailingSlash) {
  FList.SetDirectories(true);
  FList.SetBaseMenu(FileMenu());
  FList.AddFile(File("plain.syx"));
  FList.AddFile(FFolder.Path() + "/");
  FList.AddFile("/");
  EXPECT_EQ(Paths(), (TNames{"/", FFolder.Path()}));
  EXPECT_EQ(FList.GetItem(0)->Caption, "/");
}

} // namespace
} // namespace pelrow
