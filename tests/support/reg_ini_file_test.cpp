#include <gtest/gtest.h>

#include "support/reg_ini_file.h"
#include "support/registry_printing.h"
#include "support/scratch_folder.h"

namespace pelrow {
namespace {

constexpr const char* kBase = "\\Software\\Narvell\\Vesk's Pelrow\\pelrow";

class RegIniFile : public ::testing::Test {
protected:
  std::optional<TRegValue> Stored(const char* ident) const {
    return FStore.ReadValue(std::string(kBase) + "\\Current", ident);
  }

  TScratchFolder FFolder;
  TRegistryStore FStore{FFolder.Path("registry")};
  TRegIniFile FIni{FStore, kBase};
};

TEST_F(RegIniFile, IntegersStayNumbersUnlessAlreadyStoredAsText) {
  FIni.WriteInteger("Current", "SendSpeed", -500);
  EXPECT_EQ(Stored("SendSpeed"), TRegValue::FromInteger(-500));

  FIni.WriteString("Current", "FontSize", "12");
  FIni.WriteInteger("Current", "FontSize", 9);
  EXPECT_EQ(Stored("FontSize"), TRegValue::FromText("9"));
  EXPECT_EQ(FIni.ReadInteger("Current", "FontSize", 0), 9);
}

TEST_F(RegIniFile, IntegersReadFromEitherFormOrFallBackToDefault) {
  FStore.WriteValue(std::string(kBase) + "\\Current", "Text", TRegValue::FromText("-1000"));
  FStore.WriteValue(std::string(kBase) + "\\Current", "Bad", TRegValue::FromText("12 px"));
  FStore.WriteValue(std::string(kBase) + "\\Current", "Empty", TRegValue::FromText(""));
  FIni.WriteInteger("Current", "Number", 241);

  EXPECT_EQ(FIni.ReadInteger("Current", "Text", 5), -1000);
  EXPECT_EQ(FIni.ReadInteger("Current", "Number", 5), 241);
  EXPECT_EQ(FIni.ReadInteger("current", "number", 5), 241);
  EXPECT_EQ(FIni.ReadInteger("Current", "Bad", 5), 5);
  EXPECT_EQ(FIni.ReadInteger("Current", "Empty", 5), 5);
  EXPECT_EQ(FIni.ReadInteger("Current", "Missing", 5), 5);
  EXPECT_EQ(FIni.ReadInteger("NoSection", "Number", 5), 5);
  EXPECT_EQ(FIni.ReadString("Current", "Number", "x"), "241");
  EXPECT_EQ(FIni.ReadString("NoSection", "Number", "x"), "x");
}

TEST_F(RegIniFile, BooleansAreWrittenAsTextAndReadFromEitherForm) {
  FIni.WriteBool("Current", "MidiThru", true);
  FIni.WriteBool("Current", "SysExOnly", false);
  EXPECT_EQ(Stored("MidiThru"), TRegValue::FromText("1"));
  EXPECT_EQ(Stored("SysExOnly"), TRegValue::FromText("0"));
  EXPECT_TRUE(FIni.ReadBool("Current", "MidiThru", false));
  EXPECT_FALSE(FIni.ReadBool("Current", "SysExOnly", true));

  FIni.WriteInteger("Current", "Seven", 7);
  FIni.WriteInteger("Current", "Zero", 0);
  FIni.WriteString("Current", "Two", "2");
  FIni.WriteString("Current", "Word", "yes");
  EXPECT_TRUE(FIni.ReadBool("Current", "Seven", false));
  EXPECT_FALSE(FIni.ReadBool("Current", "Zero", true));
  EXPECT_TRUE(FIni.ReadBool("Current", "Two", false));
  EXPECT_TRUE(FIni.ReadBool("Current", "Word", true));
  EXPECT_FALSE(FIni.ReadBool("Current", "Word", false));
  EXPECT_TRUE(FIni.ReadBool("Current", "Missing", true));
}

TEST_F(RegIniFile, SectionsAreSubkeysCreatedOnFirstWrite) {
  EXPECT_FALSE(FIni.SectionExists("MidiDevices"));
  EXPECT_TRUE(FIni.ReadSections().empty());
  FIni.WriteString("MidiDevices", "MidiIn", "Synth");
  FIni.WriteString("MidiDevices", "MidiOut", "(none)");
  FIni.WriteBool("Current", "MidiThru", false);

  EXPECT_TRUE(FStore.KeyExists(std::string(kBase) + "\\MidiDevices"));
  EXPECT_EQ(FIni.ReadSections(), (std::vector<std::string>{"Current", "MidiDevices"}));
  EXPECT_EQ(FIni.ReadSection("MidiDevices"), (std::vector<std::string>{"MidiIn", "MidiOut"}));

  FIni.DeleteKey("MidiDevices", "MIDIIN");
  EXPECT_FALSE(FIni.ValueExists("MidiDevices", "MidiIn"));
  EXPECT_EQ(FIni.ReadString("MidiDevices", "MidiIn", "default"), "default");
  FIni.EraseSection("MidiDevices");
  EXPECT_FALSE(FIni.SectionExists("MidiDevices"));
  EXPECT_EQ(FIni.ReadSections(), std::vector<std::string>{"Current"});
}

} // namespace
} // namespace pelrow
