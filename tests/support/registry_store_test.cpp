#include <gtest/gtest.h>

#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <functional>
#include <sys/file.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "support/other_account.h"
#include "support/registry_printing.h"
#include "support/registry_store.h"
#include "support/scratch_folder.h"

namespace pelrow {
namespace {

constexpr const char* kKey = "\\Software\\Narvell\\Vesk's Pelrow\\pelrow";

std::vector<std::string> DamagedCopies(const TScratchFolder& folder) {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(folder.Path()))
    if (entry.path().filename().string().rfind("registry.damaged-", 0) == 0)
      names.push_back(entry.path().string());
  return names;
}

TEST(RegistryStore, TypedValuesAndKeysSurviveSaveAndLoad) {
  TScratchFolder folder;
  const std::string file = folder.Path("config/pelrow/registry");
  TRegistryStore writer(file);
  ASSERT_TRUE(writer.Load());
  writer.WriteValue(std::string(kKey) + "\\Current", "SendSpeed", TRegValue::FromInteger(-500));
  writer.WriteValue(std::string(kKey) + "\\Current", "FontName", TRegValue::FromText("Terminal"));
  writer.WriteValue(std::string(kKey) + "\\Current", "Count", TRegValue::FromText("12"));
  ASSERT_TRUE(writer.CreateKey(std::string(kKey) + "\\MRUList"));
  ASSERT_TRUE(writer.Save()) << writer.LastError();

  TRegistryStore reader(file);
  ASSERT_TRUE(reader.Load()) << reader.LastError();
  const std::string current = std::string(kKey) + "\\Current";
  EXPECT_EQ(reader.ReadValue(current, "SendSpeed"), TRegValue::FromInteger(-500));
  EXPECT_EQ(reader.ReadValue(current, "FontName"), TRegValue::FromText("Terminal"));
  EXPECT_EQ(reader.ReadValue(current, "Count"), TRegValue::FromText("12"));
  EXPECT_EQ(reader.SubKeyNames(kKey), (std::vector<std::string>{"Current", "MRUList"}));
  EXPECT_TRUE(reader.ValueNames(std::string(kKey) + "\\MRUList").empty());
  EXPECT_TRUE(RegKeyExists(reader, std::string(kKey) + "\\MRUList"));
  EXPECT_NE(ReadWholeFile(file).find("[Software\\Narvell\\Vesk's Pelrow\\pelrow\\Current]\n"),
            std::string::npos);
  EXPECT_EQ(std::filesystem::status(file).permissions() & std::filesystem::perms::all,
            std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
}

TEST(RegistryStore, LookupIgnoresCaseAndKeepsTheFirstWrittenCase) {
  TScratchFolder folder;
  TRegistryStore store(folder.Path("registry"));
  store.WriteValue("Software\\Narvell", "FontName", TRegValue::FromText("Terminal"));
  store.WriteValue("SOFTWARE\\narvell", "FONTNAME", TRegValue::FromText("Courier"));
  EXPECT_EQ(store.ReadValue("software\\NARVELL", "fontname"), TRegValue::FromText("Courier"));
  EXPECT_EQ(store.SubKeyNames(""), std::vector<std::string>{"Software"});
  EXPECT_EQ(store.SubKeyNames("software"), std::vector<std::string>{"Narvell"});
  EXPECT_EQ(store.ValueNames("Software\\Narvell"), std::vector<std::string>{"FontName"});
}

TEST(RegistryStore, DeletionsReachTheFileAndMissingKeysAnswerFalse) {
  TScratchFolder folder;
  const std::string file = folder.Path("registry");
  TRegistryStore store(file);
  store.WriteValue("A\\Current\\Deep", "x", TRegValue::FromInteger(1));
  store.WriteValue("A\\MidiDevices", "MidiIn", TRegValue::FromText("Synth"));
  store.WriteValue("A\\MidiDevices", "MidiOut", TRegValue::FromText("Synth"));
  ASSERT_TRUE(store.Save());

  EXPECT_TRUE(RegDeleteKeyTree(store, "\\A\\current"));
  EXPECT_TRUE(store.DeleteValue("A\\MidiDevices", "midiin"));
  EXPECT_FALSE(RegDeleteKeyTree(store, "\\A\\Current"));
  EXPECT_FALSE(RegDeleteKeyTree(store, "\\Nowhere\\At\\All"));
  EXPECT_FALSE(RegDeleteKeyTree(store, "\\"));
  EXPECT_FALSE(store.DeleteValue("A\\MidiDevices", "MidiIn"));
  EXPECT_FALSE(store.OpenKey("A\\Current", false).has_value());
  ASSERT_TRUE(store.Save());

  TRegistryStore reader(file);
  ASSERT_TRUE(reader.Load());
  EXPECT_FALSE(RegKeyExists(reader, "\\A\\Current"));
  EXPECT_EQ(reader.ValueNames("A\\MidiDevices"), std::vector<std::string>{"MidiOut"});
  auto key = reader.OpenKey("\\A\\MidiDevices", false);
  ASSERT_TRUE(key.has_value());
  EXPECT_TRUE(key->ValueExists("MIDIOUT"));
}

TEST(RegistryStore, SavesMergeWithWhatAnotherCopyWrote) {
  TScratchFolder folder;
  const std::string file = folder.Path("registry");
  TRegistryStore seed(file);
  seed.WriteValue("Shared", "Old", TRegValue::FromText("kept until deleted"));
  seed.WriteValue("Shared", "Both", TRegValue::FromInteger(0));
  ASSERT_TRUE(seed.Save());

  TRegistryStore first(file);
  TRegistryStore second(file);
  ASSERT_TRUE(first.Load());
  ASSERT_TRUE(second.Load());
  first.WriteValue("Software\\CopyOne\\Current", "SendSpeed", TRegValue::FromInteger(100));
  first.DeleteValue("Shared", "Old");
  first.WriteValue("Shared", "Both", TRegValue::FromInteger(1));
  second.WriteValue("Software\\CopyTwo\\Current", "SendSpeed", TRegValue::FromInteger(200));
  second.WriteValue("Shared", "Both", TRegValue::FromInteger(2));
  ASSERT_TRUE(first.Save());
  ASSERT_TRUE(second.Save());

  TRegistryStore reader(file);
  ASSERT_TRUE(reader.Load());
  EXPECT_EQ(reader.ReadValue("Software\\CopyOne\\Current", "SendSpeed"),
            TRegValue::FromInteger(100));
  EXPECT_EQ(reader.ReadValue("Software\\CopyTwo\\Current", "SendSpeed"),
            TRegValue::FromInteger(200));
  // The second copy never touched "Old", so its save does not bring it back.
  EXPECT_FALSE(reader.ReadValue("Shared", "Old").has_value());
  // The later save wins where both wrote.
  EXPECT_EQ(reader.ReadValue("Shared", "Both"), TRegValue::FromInteger(2));
  EXPECT_EQ(second.ReadValue("Software\\CopyOne\\Current", "SendSpeed"),
            TRegValue::FromInteger(100));
}

TEST(RegistryStore, ConcurrentSavesFromTwoProcessesLoseNothing) {
  TScratchFolder folder;
  const std::string file = folder.Path("registry");
  constexpr int kRounds = 40;
  std::vector<pid_t> children;
  for (int child = 0; child < 2; ++child) {
    const pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      for (int round = 0; round < kRounds; ++round) {
        TRegistryStore store(file);
        store.Load();
        store.WriteValue("Software\\Copy" + std::to_string(child), "Round" + std::to_string(round),
                         TRegValue::FromText(std::string(500, char('a' + round % 26))));
        if (!store.LastError().empty() || !store.Save())
          ::_exit(1);
      }
      ::_exit(0);
    }
    children.push_back(pid);
  }
  for (const pid_t pid : children) {
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }
  TRegistryStore reader(file);
  ASSERT_TRUE(reader.Load()) << reader.LastError();
  EXPECT_EQ(reader.ValueNames("Software\\Copy0").size(), std::size_t(kRounds));
  EXPECT_EQ(reader.ValueNames("Software\\Copy1").size(), std::size_t(kRounds));
  EXPECT_TRUE(DamagedCopies(folder).empty());
}

TEST(RegistryStore, DamagedFileIsSetAsideAndDefaultsAreUsed) {
  TScratchFolder folder;
  const std::string file = folder.Path("registry");
  const std::string garbage = "[Software]\n\"ok\"=1\nthis is not a setting\n";
  WriteWholeFile(file, garbage);

  TRegistryStore store(file);
  EXPECT_FALSE(store.Load());
  EXPECT_NE(store.LastError().find("damaged (line 3:"), std::string::npos) << store.LastError();
  EXPECT_FALSE(store.KeyExists("Software"));
  const auto copies = DamagedCopies(folder);
  ASSERT_EQ(copies.size(), 1u);
  EXPECT_EQ(ReadWholeFile(copies[0]), garbage);
  EXPECT_NE(store.LastError().find(copies[0]), std::string::npos);

  store.WriteValue("Software", "fresh", TRegValue::FromInteger(1));
  ASSERT_TRUE(store.Save());
  TRegistryStore reader(file);
  EXPECT_TRUE(reader.Load());
  EXPECT_TRUE(reader.LastError().empty());
  EXPECT_EQ(ReadWholeFile(copies[0]), garbage);
}

TEST(RegistryStore, FileDamagedByAnotherProgramBeforeSaveIsKeptAside) {
  TScratchFolder folder;
  const std::string file = folder.Path("registry");
  TRegistryStore store(file);
  ASSERT_TRUE(store.Load());
  WriteWholeFile(file, std::string("\x00\x01\x02", 3));
  store.WriteValue("Software", "mine", TRegValue::FromInteger(7));
  EXPECT_TRUE(store.Save());
  EXPECT_FALSE(store.LastError().empty());
  EXPECT_EQ(DamagedCopies(folder).size(), 1u);
  TRegistryStore reader(file);
  ASSERT_TRUE(reader.Load());
  EXPECT_EQ(reader.ReadValue("Software", "mine"), TRegValue::FromInteger(7));
}

// Checks that the store neither crashes on nor overwrites a file it cannot read.
void ExpectUnreadableFileLeftAlone(const std::string& file) {
  TRegistryStore store(file);
  EXPECT_FALSE(store.Load());
  EXPECT_FALSE(store.LastError().empty());
  store.WriteValue("Software", "x", TRegValue::FromInteger(1));
  store.ClearLastError();
  EXPECT_FALSE(store.Save());
  EXPECT_NE(store.LastError().find("could not be saved"), std::string::npos);
  EXPECT_TRUE(store.HasUnsavedChanges());
}

TEST(RegistryStore, UnreadableFileIsNeitherFatalNorOverwritten) {
  if (::geteuid() == 0)
    GTEST_SKIP() << "file permissions do not bind the superuser";
  TScratchFolder folder;
  const std::string file = folder.Path("registry");
  WriteWholeFile(file, "[Software]\n\"kept\"=1\n");
  ::chmod(file.c_str(), 0);
  ExpectUnreadableFileLeftAlone(file);
  ::chmod(file.c_str(), 0600);
  EXPECT_EQ(ReadWholeFile(file), "[Software]\n\"kept\"=1\n");
}

TEST(RegistryStore, FolderInPlaceOfTheFileIsNeitherFatalNorReplaced) {
  TScratchFolder folder;
  const std::string file = folder.Path("registry");
  std::filesystem::create_directory(file);
  WriteWholeFile(file + "/inside", "data");
  ExpectUnreadableFileLeftAlone(file);
  EXPECT_EQ(ReadWholeFile(file + "/inside"), "data");
}

TEST(RegistryStore, FailedSaveKeepsChangesForTheNextTry) {
  TScratchFolder folder;
  WriteWholeFile(folder.Path("blocker"), "a file where a folder should be");
  TRegistryStore store(folder.Path("blocker/pelrow/registry"));
  EXPECT_FALSE(store.Load());
  EXPECT_NE(store.LastError().find("could not be read"), std::string::npos);
  store.WriteValue("Software", "x", TRegValue::FromInteger(1));
  EXPECT_FALSE(store.Save());
  EXPECT_NE(store.LastError().find("could not be saved"), std::string::npos);
  EXPECT_TRUE(store.HasUnsavedChanges());
  EXPECT_EQ(store.ReadValue("Software", "x"), TRegValue::FromInteger(1));
}

// A store that would wait for ever ends the test run instead of hanging it.
class THangGuard {
public:
  THangGuard() { ::alarm(20); }
  ~THangGuard() { ::alarm(0); }
};

TEST(RegistryStore, FifoInPlaceOfTheFileNeitherBlocksNorIsReplaced) {
  THangGuard guard;
  TScratchFolder folder;
  const std::string file = folder.Path("registry");
  ASSERT_EQ(::mkfifo(file.c_str(), 0600), 0);
  ExpectUnreadableFileLeftAlone(file);
  EXPECT_TRUE(std::filesystem::is_fifo(file));
  TRegistryStore store(file);
  store.Load();
  EXPECT_NE(store.LastError().find("not a regular file"), std::string::npos) << store.LastError();
}

// Another process that takes the settings lock and keeps it, as a hung copy does.
class TLockHolder {
public:
  explicit TLockHolder(const std::string& lockPath) {
    int ready[2];
    if (::pipe(ready) != 0)
      return;
    const pid_t parent = ::getpid();
    FPid = ::fork();
    if (FPid == 0) {
      // Goes with the test, even when a hang guard ends the test.
      ::prctl(PR_SET_PDEATHSIG, SIGKILL);
      if (::getppid() != parent)
        ::_exit(1);
      const int fd = ::open(lockPath.c_str(), O_RDWR | O_CREAT, 0600);
      if (fd < 0 || ::flock(fd, LOCK_EX) != 0)
        ::_exit(1);
      (void)!::write(ready[1], "L", 1);
      for (;;)
        ::pause();
    }
    ::close(ready[1]);
    char signal = 0;
    FHolding = FPid > 0 && ::read(ready[0], &signal, 1) == 1;
    ::close(ready[0]);
  }
  ~TLockHolder() { Release(); }
  bool Holding() const { return FHolding; }
  void Release() {
    if (FPid <= 0)
      return;
    ::kill(FPid, SIGKILL);
    ::waitpid(FPid, nullptr, 0);
    FPid = -1;
  }

private:
  pid_t FPid = -1;
  bool FHolding = false;
};

class TManualClock final : public TClock {
public:
  uint32_t NowMs() override { return Now; }
  uint32_t Now = 1000;
};

TEST(RegistryStore, LockHeldByAHungCopyGivesTheStoredSettingsReadOnly) {
  THangGuard guard;
  TScratchFolder folder;
  const std::string file = folder.Path("registry");
  TRegistryStore seed(file);
  seed.WriteValue("Software", "SendSpeed", TRegValue::FromInteger(250));
  ASSERT_TRUE(seed.Save());
  const std::string saved = ReadWholeFile(file);

  TLockHolder holder(file + ".lock");
  ASSERT_TRUE(holder.Holding());
  TManualClock clock;
  TRegistryStore store(file, {2000, &clock, [&clock](uint32_t ms) { clock.Now += ms; }});
  EXPECT_TRUE(store.Load());
  EXPECT_GE(clock.Now - 1000, 2000u);
  EXPECT_LT(clock.Now - 1000, 2100u);
  EXPECT_TRUE(store.ReadOnly());
  EXPECT_NE(store.LastError().find("locked by another copy"), std::string::npos);
  EXPECT_EQ(store.ReadValue("Software", "SendSpeed"), TRegValue::FromInteger(250));
  store.WriteValue("Software", "SendSpeed", TRegValue::FromInteger(-1000));
  EXPECT_FALSE(store.Save());
  EXPECT_EQ(ReadWholeFile(file), saved);

  // Without the lock a damaged file is not ours to move away.
  WriteWholeFile(file, "not a settings file");
  TRegistryStore damaged(file, {2000, &clock, [&clock](uint32_t ms) { clock.Now += ms; }});
  EXPECT_FALSE(damaged.Load());
  EXPECT_TRUE(DamagedCopies(folder).empty());
  EXPECT_EQ(ReadWholeFile(file), "not a settings file");
}

TEST(RegistryStore, LockReleasedWhileWaitingIsTaken) {
  THangGuard guard;
  TScratchFolder folder;
  const std::string file = folder.Path("registry");
  TLockHolder holder(file + ".lock");
  ASSERT_TRUE(holder.Holding());
  TManualClock clock;
  TRegistryStore store(file, {2000, &clock, [&](uint32_t ms) {
                                clock.Now += ms;
                                holder.Release();
                              }});
  EXPECT_TRUE(store.Load());
  EXPECT_FALSE(store.ReadOnly());
  EXPECT_EQ(store.LastError(), "");
  store.WriteValue("Software", "x", TRegValue::FromInteger(1));
  EXPECT_TRUE(store.Save()) << store.LastError();
}

TEST(RegistryStore, TemporaryFilesLeftByACrashedSaveAreRemovedAtTheNextSave) {
  THangGuard guard;
  TScratchFolder folder;
  const std::string file = folder.Path("registry");
  WriteWholeFile(file + ".tmp-12345", "[Software]\n\"half");
  // A leftover that carries our own process number, and is no plain file either.
  const std::string ours = file + ".tmp-" + std::to_string(::getpid());
  ASSERT_EQ(::mkfifo(ours.c_str(), 0600), 0);
  WriteWholeFile(file + ".tmp-notes", "the user's own file");

  TRegistryStore store(file);
  ASSERT_TRUE(store.Load());
  store.WriteValue("Software", "x", TRegValue::FromInteger(1));
  ASSERT_TRUE(store.Save()) << store.LastError();
  EXPECT_FALSE(std::filesystem::exists(file + ".tmp-12345"));
  EXPECT_FALSE(std::filesystem::exists(ours));
  EXPECT_EQ(ReadWholeFile(file + ".tmp-notes"), "the user's own file");
  TRegistryStore reader(file);
  ASSERT_TRUE(reader.Load());
  EXPECT_EQ(reader.ReadValue("Software", "x"), TRegValue::FromInteger(1));
}

TEST(RegistryStore, LinkedSettingsFileStaysALink) {
  TScratchFolder folder;
  const std::string target = folder.Path("dotfiles-registry");
  const std::string link = folder.Path("registry");
  WriteWholeFile(target, "");
  std::filesystem::create_symlink(target, link);
  TRegistryStore store(link);
  ASSERT_TRUE(store.Load());
  store.WriteValue("Software", "x", TRegValue::FromInteger(1));
  ASSERT_TRUE(store.Save());
  EXPECT_TRUE(std::filesystem::is_symlink(link));
  EXPECT_NE(ReadWholeFile(target).find("\"x\"=1"), std::string::npos);
}

// A dotfiles checkout not yet in place: the links are there, the file is not.
TEST(RegistryStore, DanglingLinkGetsItsTargetCreatedAndStaysALink) {
  TScratchFolder folder;
  std::filesystem::create_directory(folder.Path("dotfiles"));
  const std::string link = folder.Path("registry");
  // A relative link to a relative link, each relative to its own folder.
  std::filesystem::create_symlink("dotfiles/pelrow", link);
  std::filesystem::create_symlink("registry-file", folder.Path("dotfiles/pelrow"));
  TRegistryStore store(link);
  ASSERT_TRUE(store.Load()) << store.LastError();
  store.WriteValue("Software", "x", TRegValue::FromInteger(1));
  ASSERT_TRUE(store.Save()) << store.LastError();
  EXPECT_TRUE(std::filesystem::is_symlink(link));
  EXPECT_TRUE(std::filesystem::is_symlink(folder.Path("dotfiles/pelrow")));
  EXPECT_NE(ReadWholeFile(folder.Path("dotfiles/registry-file")).find("\"x\"=1"),
            std::string::npos);

  // A link into a folder that does not exist: nothing is made, and the message
  // says which step failed.
  const std::string nowhere = folder.Path("elsewhere");
  std::filesystem::create_symlink("missing-folder/registry", nowhere);
  TRegistryStore lost(nowhere);
  ASSERT_TRUE(lost.Load());
  lost.WriteValue("Software", "x", TRegValue::FromInteger(1));
  EXPECT_FALSE(lost.Save());
  EXPECT_NE(lost.LastError().find("(creating the new file beside it: No such file or directory)"),
            std::string::npos)
      << lost.LastError();
  EXPECT_TRUE(std::filesystem::is_symlink(nowhere));
  EXPECT_FALSE(std::filesystem::exists(folder.Path("missing-folder")));
}

// Settings go only into a folder that nobody else can change; a link the user
// made is followed, a link in place of the lock file is not.
TEST(RegistryStore, SettingsAreWrittenOnlyWhereNobodyElseCanChangeThem) {
  TScratchFolder scratch;
  struct TCase {
    const char* Name;
    std::string Folder; // holds the settings file
    std::function<void()> Prepare;
    bool Saved;
  };
  const auto folder = [&scratch](const std::string& name, mode_t mode) {
    std::filesystem::create_directories(scratch.Path(name));
    ::chmod(scratch.Path(name).c_str(), mode);
  };
  const std::vector<TCase> cases = {
      {"a folder others may write into", scratch.Path("open"), [&] { folder("open", 0777); },
       false},
      {"a folder in one where others may rename it", scratch.Path("shared/mine"),
       [&] { folder("shared/mine", 0700), folder("shared", 0777); }, false},
      {"a folder in a sticky shared one", scratch.Path("sticky/mine"),
       [&] { folder("sticky/mine", 0700), folder("sticky", 01777); }, true},
      {"a link the user made to a folder of theirs", scratch.Path("link"),
       [&] {
         folder("dotfiles", 0700);
         std::filesystem::create_directory_symlink(scratch.Path("dotfiles"), scratch.Path("link"));
       },
       true},
  };
  for (const TCase& c : cases) {
    c.Prepare();
    TRegistryStore store(c.Folder + "/registry");
    EXPECT_EQ(store.Load(), c.Saved) << c.Name << ": " << store.LastError();
    store.WriteValue("Software", "x", TRegValue::FromInteger(1));
    EXPECT_EQ(store.Save(), c.Saved) << c.Name << ": " << store.LastError();
    EXPECT_EQ(std::filesystem::exists(c.Folder + "/registry"), c.Saved) << c.Name;
    EXPECT_EQ(std::filesystem::exists(c.Folder + "/registry.lock"), c.Saved) << c.Name;
    if (!c.Saved) {
      EXPECT_NE(store.LastError().find("cannot be used"), std::string::npos) << store.LastError();
    }
  }
  EXPECT_TRUE(std::filesystem::exists(scratch.Path("dotfiles/registry")));

  const std::string aside = scratch.Path("aside");
  folder("locked", 0700);
  std::filesystem::create_symlink(aside, scratch.Path("locked/registry.lock"));
  TRegistryStore store(scratch.Path("locked/registry"));
  store.Load();
  store.WriteValue("Software", "x", TRegValue::FromInteger(1));
  EXPECT_FALSE(store.Save());
  EXPECT_FALSE(std::filesystem::exists(aside));
}

// With the settings in a folder every user may write into, another account's
// link or folder there makes the program neither read nor write anything.
TEST(RegistryStore, AnotherUsersLinksAndFoldersInASharedFolderAreNotUsed) {
  test::TOtherAccount other;
  if (!other.SkipReason().empty())
    GTEST_SKIP() << other.SkipReason();
  TScratchFolder scratch;
  ::chmod(scratch.Path().c_str(), 0711);
  const std::string shared = scratch.Path("shared");
  const std::string trap = scratch.Path("shared/trap");
  std::filesystem::create_directory(shared);
  ::chmod(shared.c_str(), 0777);
  const std::string planted = "[Software]\n\"SendSpeed\"=999\n";
  ASSERT_TRUE(other.Run([&] {
    if (::mkdir(trap.c_str(), 0777) != 0 || ::chmod(trap.c_str(), 0777) != 0)
      return false;
    WriteWholeFile(trap + "/registry", planted);
    return ::symlink(trap.c_str(), (shared + "/pelrow").c_str()) == 0;
  }));
  for (const std::string& settings : {shared + "/pelrow/registry", trap + "/registry"}) {
    TRegistryStore store(settings);
    EXPECT_FALSE(store.Load()) << settings;
    EXPECT_FALSE(store.ReadValue("Software", "SendSpeed")) << settings;
    EXPECT_NE(store.LastError().find("cannot be used"), std::string::npos) << store.LastError();
    store.WriteValue("Software", "x", TRegValue::FromInteger(1));
    EXPECT_FALSE(store.Save()) << settings;
  }
  EXPECT_EQ(ReadWholeFile(trap + "/registry"), planted);
  EXPECT_FALSE(std::filesystem::exists(trap + "/registry.lock"));
}

TEST(RegistryStore, ReadOnlyFileIsLeftAloneAndTheUserIsTold) {
  TScratchFolder folder;
  const std::string file = folder.Path("registry");
  const std::string pinned = "[Software]\n\"SendSpeed\"=250\n";
  WriteWholeFile(file, pinned);
  ::chmod(file.c_str(), 0444);
  TRegistryStore store(file);
  EXPECT_TRUE(store.Load());
  EXPECT_NE(store.LastError().find("is read-only"), std::string::npos) << store.LastError();
  EXPECT_EQ(store.ReadValue("Software", "SendSpeed"), TRegValue::FromInteger(250));

  store.WriteValue("Software", "SendSpeed", TRegValue::FromInteger(-1000));
  store.ClearLastError();
  EXPECT_FALSE(store.Save());
  EXPECT_NE(store.LastError().find("could not be saved"), std::string::npos);
  EXPECT_NE(store.LastError().find("read-only"), std::string::npos) << store.LastError();
  EXPECT_TRUE(store.HasUnsavedChanges());
  EXPECT_EQ(ReadWholeFile(file), pinned);
  EXPECT_EQ(std::filesystem::status(file).permissions() & std::filesystem::perms::all,
            std::filesystem::perms::owner_read | std::filesystem::perms::group_read |
                std::filesystem::perms::others_read);

  // Damaged as well: still not ours to move away or replace.
  WriteWholeFile(file + ".new", "not a settings file");
  ::chmod((file + ".new").c_str(), 0400);
  std::filesystem::rename(file + ".new", file);
  EXPECT_FALSE(store.Save());
  EXPECT_EQ(ReadWholeFile(file), "not a settings file");
  EXPECT_TRUE(DamagedCopies(folder).empty());
}

TEST(RegistryStore, ReplacedFileKeepsThePermissionsTheUserGaveIt) {
  TScratchFolder folder;
  const std::string file = folder.Path("registry");
  WriteWholeFile(file, "");
  ::chmod(file.c_str(), 0640);
  TRegistryStore store(file);
  ASSERT_TRUE(store.Load());
  store.WriteValue("Software", "x", TRegValue::FromInteger(1));
  ASSERT_TRUE(store.Save()) << store.LastError();
  struct stat info {};
  ASSERT_EQ(::stat(file.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 07777, 0640u);
  EXPECT_NE(ReadWholeFile(file).find("\"x\"=1"), std::string::npos);
}

// A copy that closes later must not put back a value it merely read and wrote
// again unchanged, whatever way it wrote it.
TEST(RegistryStore, WritingAValueAsItStandsIsNoChange) {
  TScratchFolder folder;
  const std::string file = folder.Path("registry");
  TRegistryStore seed(file);
  seed.WriteValue("Software", "MidiIn", TRegValue::FromText("Synth A"));
  ASSERT_TRUE(seed.Save());

  TRegistryStore earlier(file);
  TRegistryStore later(file);
  ASSERT_TRUE(earlier.Load());
  ASSERT_TRUE(later.Load());
  earlier.WriteValue("Software", "MidiIn", TRegValue::FromText("Synth B"));
  ASSERT_TRUE(earlier.Save());
  later.OpenKey("Software", false)->WriteValue("midiin", TRegValue::FromText("Synth A"));
  EXPECT_FALSE(later.HasUnsavedChanges());
  // The same text as a number is a different value.
  later.WriteValue("Software", "Count", TRegValue::FromInteger(1));
  later.WriteValue("Software", "Count", TRegValue::FromText("1"));
  ASSERT_TRUE(later.Save());

  TRegistryStore reader(file);
  ASSERT_TRUE(reader.Load());
  EXPECT_EQ(reader.ReadValue("Software", "MidiIn"), TRegValue::FromText("Synth B"));
  EXPECT_EQ(reader.ReadValue("Software", "Count"), TRegValue::FromText("1"));
}

TEST(RegistryStore, DefaultLocationFollowsXdgConfigHome) {
  const std::string savedXdg = std::getenv("XDG_CONFIG_HOME") ? std::getenv("XDG_CONFIG_HOME") : "";
  const std::string savedHome = std::getenv("HOME") ? std::getenv("HOME") : "";
  ::setenv("HOME", "/home/someone", 1);
  ::setenv("XDG_CONFIG_HOME", "/tmp/xdg", 1);
  EXPECT_EQ(DefaultRegistryFilePath(), "/tmp/xdg/pelrow/registry");
  ::setenv("XDG_CONFIG_HOME", "relative/ignored", 1);
  EXPECT_EQ(DefaultRegistryFilePath(), "/home/someone/.config/pelrow/registry");
  ::unsetenv("XDG_CONFIG_HOME");
  EXPECT_EQ(DefaultRegistryFilePath(), "/home/someone/.config/pelrow/registry");
  ::setenv("HOME", savedHome.c_str(), 1);
  if (!savedXdg.empty())
    ::setenv("XDG_CONFIG_HOME", savedXdg.c_str(), 1);
}

} // namespace
} // namespace pelrow
