#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "support/general_utils.h"
#include "support/product_info.h"
#include "support/scratch_folder.h"

namespace pelrow {
namespace {

TEST(ProductInfo, ShortVersionJoinsReleaseToMinorAndDropsBuild) {
  EXPECT_EQ(ShortVersionOf("2.4.1.57"), "2.41");
  EXPECT_EQ(ShortVersionOf("1.3.0.0"), "1.30");
  EXPECT_EQ(ShortVersionOf("5.12"), "5");
  EXPECT_EQ(ShortVersionOf("3.0"), "3");
  EXPECT_EQ(ShortVersionOf("7"), "");
  EXPECT_EQ(ShortVersionOf(""), "");
  EXPECT_EQ(ShortVersionOf(".5"), "");
}

TEST(ProductInfo, BuildNumberIsTextAfterLastDot) {
  EXPECT_EQ(BuildNumberOf("2.4.1.57"), "57");
  EXPECT_EQ(BuildNumberOf("1.3.0.0"), "0");
  EXPECT_EQ(BuildNumberOf("5.12"), "12");
  EXPECT_EQ(BuildNumberOf("7"), "");
  EXPECT_EQ(BuildNumberOf("2.4."), "");
}

TEST(ProductInfo, VersionIsCompiledInWithFourNumbers) {
  EXPECT_EQ(std::count(ProgramVersion().begin(), ProgramVersion().end(), '.'), 3);
  EXPECT_FALSE(ShortVersion().empty());
  EXPECT_FALSE(BuildNumber().empty());
}

TEST(ProductInfo, RegistryPathsNameCompanyProductAndExecutable) {
  EXPECT_EQ(AppRegPathFor("/usr/bin/pelrow"), "Narvell\\Vesk's Pelrow\\pelrow");
  EXPECT_EQ(AppRegPathFor("/opt/tools.d/pelrow.bin"), "Narvell\\Vesk's Pelrow\\pelrow");
  EXPECT_EQ(AppRegPathFor("/home/me/pelrow-copy"), "Narvell\\Vesk's Pelrow\\pelrow-copy");
  EXPECT_EQ(AppRegPathFor(""), "Narvell\\Vesk's Pelrow\\pelrow");
  EXPECT_EQ(LegacyRegKey(), "\\Software\\Narvell\\Vesk's Pelrow\\");
}

TEST(ProductInfo, RunningExecutableGivesItsOwnKey) {
  // This test program runs as test_support, so its settings key ends with that name.
  EXPECT_EQ(FileNameOf(ProgramPath()), "test_support");
  EXPECT_TRUE(std::filesystem::path(ProgramPath()).is_absolute());
  EXPECT_EQ(AppRegPath(), "Narvell\\Vesk's Pelrow\\test_support");
  EXPECT_EQ(AppRegKey(), "\\Software\\Narvell\\Vesk's Pelrow\\test_support");
}

TEST(GeneralUtils, RemoveExtensionCutsOnlyAfterFirstCharacter) {
  EXPECT_EQ(RemoveExtension("archive.tar.gz"), "archive.tar");
  EXPECT_EQ(RemoveExtension("pelrow"), "pelrow");
  EXPECT_EQ(RemoveExtension(".profile"), ".profile");
  EXPECT_EQ(RemoveExtension("a."), "a");
  EXPECT_EQ(RemoveExtension(""), "");
}

TEST(GeneralUtils, AddTrailingBackslashOnlyWhenNeeded) {
  EXPECT_EQ(AddTrailingBackslash(""), "");
  EXPECT_EQ(AddTrailingBackslash("Software"), "Software\\");
  EXPECT_EQ(AddTrailingBackslash("Software\\"), "Software\\");
}

TEST(GeneralUtils, LastCharPosIsOneBased) {
  EXPECT_EQ(LastCharPos('.', "a.b.c"), 4u);
  EXPECT_EQ(LastCharPos('.', "abc"), 0u);
  EXPECT_EQ(LastCharPos('.', "."), 1u);
}

TEST(GeneralUtils, ParseDecimalInt32AcceptsOnlyWholeNumbersInRange) {
  int32_t value = 0;
  EXPECT_TRUE(ParseDecimalInt32("-500", value));
  EXPECT_EQ(value, -500);
  EXPECT_TRUE(ParseDecimalInt32("+12", value));
  EXPECT_EQ(value, 12);
  EXPECT_TRUE(ParseDecimalInt32("-2147483648", value));
  EXPECT_EQ(value, INT32_MIN);
  for (const char* bad : {"", "+", "-", "+-5", "2147483648", "12a", " 12", "0x10", "1.5"})
    EXPECT_FALSE(ParseDecimalInt32(bad, value)) << bad;
}

TEST(GeneralUtils, PathsResolveWhenTheyExist) {
  TScratchFolder folder;
  std::filesystem::create_directory(folder.Path("real"));
  std::filesystem::create_directory_symlink(folder.Path("real"), folder.Path("link"));
  const std::string canonical = std::filesystem::canonical(folder.Path("real")).string();

  EXPECT_EQ(LongPathName(folder.Path("link")), canonical);
  EXPECT_EQ(LongPathName(folder.Path("real/../link/")), canonical);
  EXPECT_EQ(LongPathName(folder.Path("missing/file")), folder.Path("missing/file"));
  EXPECT_EQ(LongPathName(""), "");

  EXPECT_TRUE(DirExists(folder.Path("link")));
  WriteWholeFile(folder.Path("file"), "x");
  EXPECT_FALSE(DirExists(folder.Path("file")));
  EXPECT_FALSE(DirExists(folder.Path("missing")));
  EXPECT_FALSE(DirExists(""));
}

} // namespace
} // namespace pelrow
