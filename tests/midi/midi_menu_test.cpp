// The device menus over the loopback backend, whose ports the tests plug in and out
// like hardware. The test thread plays the window: it runs posted notices, moves
// time for the re-check timer and calls the refresh when a device notice came.
#include "midi/midi_menu.h"
#include "midi/service/loopback/loopback_service.h"
#include "support/reg_ini_file.h"
#include "support/registry_store.h"
#include "support/scratch_folder.h"

#include "manual_timers.h"
#include "midi_test_support.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace pelrow::test {
namespace {

constexpr const char* kRegPath = "Narvell\\Vesk's Pelrow\\pelrow";
constexpr const char* kBase = "\\Software\\Narvell\\Vesk's Pelrow\\pelrow";

using TStrings = std::vector<std::string>;

class MidiMenus : public ::testing::Test {
protected:
  MidiMenus() {
    FService.AddInput("Synth A");
    FService.AddOutput("Synth A");
    FService.SetOnDevicesChanged([this] { ++FNotices; });
    for (TMidiMenuBase* menu :
         {static_cast<TMidiMenuBase*>(&FIn), static_cast<TMidiMenuBase*>(&FOut)}) {
      menu->OnTextMessage = [this](TMidiMenuBase&, const std::string& text) {
        FTexts.push_back(text);
      };
      menu->OnError = [this](TMidiMenuBase&, const std::string& text) { FErrors.push_back(text); };
      menu->RegPath = kRegPath;
      menu->SetRegistry(&FStore);
    }
    FIn.SetBaseMenu(&FInModel);
    FOut.SetBaseMenu(&FOutModel);
    FIn.SetOnMidiData([this](TMidiInput& input) {
      while (auto event = input.GetEvent())
        FReceived.push_back(event->Status);
    });
  }

  // What the window does on a device notice.
  void DeviceNotice() {
    FIn.RefreshDeviceList(false, true);
    FOut.RefreshDeviceList(false, true);
  }

  static TStrings Captions(const TMenuModel& menu) {
    TStrings captions;
    for (size_t i = 0; i < menu.Count(); ++i)
      captions.push_back(menu.Item(i).Caption);
    return captions;
  }
  static TStrings Checked(const TMenuModel& menu) {
    TStrings checked;
    for (size_t i = 0; i < menu.Count(); ++i)
      if (menu.Item(i).Checked)
        checked.push_back(menu.Item(i).Caption);
    return checked;
  }
  static void Click(TMenuModel& menu, const std::string& caption) {
    for (size_t i = 0; i < menu.Count(); ++i)
      if (menu.Item(i).Caption == caption) {
        ASSERT_TRUE(menu.Click(&menu.Item(i)));
        return;
      }
    FAIL() << "no item " << caption;
  }
  TStrings TakeTexts() { return std::exchange(FTexts, {}); }

  void Store(const char* value, const char* text) {
    FStore.WriteValue(std::string(kBase) + "\\MidiDevices", value, TRegValue::FromText(text));
  }
  std::optional<TRegValue> Stored(const char* value) {
    return FStore.ReadValue(std::string(kBase) + "\\MidiDevices", value);
  }
  void SaveBoth() {
    TRegIniFile ini(FStore, kBase);
    FIn.SaveSettings(ini);
    FOut.SaveSettings(ini);
  }
  void LoadBoth() {
    FIn.LoadFromRegistry();
    FOut.LoadFromRegistry();
  }
  // A note sent on the open output that must come back on the open input.
  bool NoteArrives() {
    FReceived.clear();
    if (!FOut.Output().SendShort(0x90, 60, 100))
      return false;
    return FPoster.RunUntil([&] { return !FReceived.empty(); }, std::chrono::seconds(2));
  }
  bool InjectedNoteArrives(const std::string& port) {
    FReceived.clear();
    if (!FService.InjectInput(port, {0x90, 60, 100}))
      return false;
    return FPoster.RunUntil([&] { return !FReceived.empty(); }, std::chrono::seconds(2));
  }

  TScratchFolder FFolder;
  TRegistryStore FStore{FFolder.Path("registry")};
  TManualTimers FTimers;
  TLoopbackMidiService FService;
  TQueuedPoster FPoster;
  TMenuModel FInModel;
  TMenuModel FOutModel;
  TMidiInMenu FIn{FService, FPoster, FTimers.Factory()};
  TMidiOutMenu FOut{FService, FTimers.Factory()};
  int FNotices = 0;
  TStrings FTexts;
  TStrings FErrors;
  std::vector<uint8_t> FReceived;
};

TEST_F(MidiMenus, ListNoneSeparatorAndDevicesWithTheMapperFirstAmongOutputs) {
  EXPECT_EQ(Captions(FInModel), (TStrings{"none", "-", LoopbackPortName, "Synth A"}));
  EXPECT_EQ(Captions(FOutModel),
            (TStrings{"none", "-", "MIDI Mapper", LoopbackPortName, "Synth A"}));
  EXPECT_EQ(Checked(FInModel), TStrings{"none"});
  EXPECT_EQ(Checked(FOutModel), TStrings{"none"});

  // Items the window placed there itself (invisible) survive every rebuild.
  TMenuModel menu;
  TMenuItem own;
  own.Caption = "window's own";
  own.Visible = false;
  menu.Add(own);
  FIn.SetBaseMenu(&menu);
  EXPECT_EQ(FInModel.Count(), 0u);
  EXPECT_EQ(Captions(menu), (TStrings{"none", "-", "window's own", LoopbackPortName, "Synth A"}));
  FIn.SetBaseMenu(nullptr);
  EXPECT_EQ(Captions(menu), TStrings{"window's own"});
}

TEST_F(MidiMenus, ClicksOpenCloseAndSwitchWithTheirTexts) {
  Click(FInModel, "none");
  EXPECT_TRUE(TakeTexts().empty());
  EXPECT_EQ(Checked(FInModel), TStrings{"none"});

  Click(FInModel, "Synth A");
  EXPECT_EQ(TakeTexts(), TStrings{"Opened MIDI IN: Synth A"});
  EXPECT_TRUE(FIn.Input().IsStarted());
  Click(FInModel, "Synth A");
  EXPECT_TRUE(TakeTexts().empty());
  EXPECT_TRUE(InjectedNoteArrives("Synth A"));

  Click(FInModel, LoopbackPortName);
  EXPECT_EQ(TakeTexts(), (TStrings{"Closing MIDI IN: Synth A ...", "Closed MIDI IN: Synth A",
                                   "Opened MIDI IN: Pelrow Loopback"}));
  EXPECT_EQ(Checked(FInModel), TStrings{LoopbackPortName});

  Click(FOutModel, "MIDI Mapper");
  EXPECT_EQ(TakeTexts(), TStrings{"Opened MIDI OUT: MIDI Mapper"});
  EXPECT_EQ(Checked(FOutModel), TStrings{"MIDI Mapper"});
  // The mapper entry is the first output device.
  EXPECT_TRUE(NoteArrives());

  Click(FOutModel, "none");
  EXPECT_EQ(TakeTexts(),
            (TStrings{"Closing MIDI OUT: MIDI Mapper ...", "Closed MIDI OUT: MIDI Mapper"}));
  EXPECT_EQ(Checked(FOutModel), TStrings{"none"});
  EXPECT_TRUE(FErrors.empty());
}

TEST_F(MidiMenus, FailedOpenReportsTheErrorAndChecksNone) {
  Click(FInModel, "Synth A");
  FService.FailOpen(TLoopbackDirection::Input, LoopbackPortName, MidiErrAllocated);
  TakeTexts();
  Click(FInModel, LoopbackPortName);
  ASSERT_EQ(FErrors.size(), 1u);
  EXPECT_EQ(FErrors[0].rfind("Cannot open MIDI input device \"Pelrow Loopback\":", 0), 0u)
      << FErrors[0];
  EXPECT_TRUE(FIn.IsClosed());
  EXPECT_EQ(FIn.GetDeviceID(), NoDevice);
  EXPECT_EQ(Checked(FInModel), TStrings{"none"});
  EXPECT_EQ(TakeTexts(), (TStrings{"Closing MIDI IN: Synth A ...", "Closed MIDI IN: Synth A"}));
}

TEST_F(MidiMenus, LoadOpensTheStoredDevicesByNameIgnoringCaseAndBlanks) {
  Store("MidiIn", "synth  a");
  Store("MidiOut", "MIDI Mapper");
  LoadBoth();
  EXPECT_EQ(Checked(FInModel), TStrings{"Synth A"});
  EXPECT_EQ(Checked(FOutModel), TStrings{"MIDI Mapper"});
  EXPECT_EQ(TakeTexts(), (TStrings{"Opened MIDI IN: Synth A", "Opened MIDI OUT: MIDI Mapper"}));
  EXPECT_TRUE(FIn.LateBindingName().empty());

  SaveBoth();
  EXPECT_EQ(Stored("MidiIn"), TRegValue::FromText("Synth A"));
  EXPECT_EQ(Stored("MidiOut"), TRegValue::FromText("MIDI Mapper"));
}

TEST_F(MidiMenus, StoredNoneAndNothingStoredLeaveTheDevicesClosedWithoutAWish) {
  Store("MidiIn", "(none)");
  LoadBoth();
  EXPECT_TRUE(FIn.IsClosed());
  EXPECT_TRUE(FOut.IsClosed());
  EXPECT_TRUE(FIn.LateBindingName().empty());
  EXPECT_TRUE(FOut.LateBindingName().empty());
  EXPECT_TRUE(TakeTexts().empty());

  SaveBoth();
  EXPECT_EQ(Stored("MidiIn"), TRegValue::FromText("(none)"));
  EXPECT_EQ(Stored("MidiOut"), TRegValue::FromText("(none)"));

  // Placeholder path: nothing is read at all.
  Store("MidiIn", "Synth A");
  FIn.RegPath = TMidiMenuBase::PlaceholderRegPath;
  FIn.LoadFromRegistry();
  EXPECT_TRUE(FIn.IsClosed());
}

TEST_F(MidiMenus, MapperStoredWithoutOutputsWaitsAndOpensWhenOneAppears) {
  FService.RemoveOutput(LoopbackPortName);
  FService.RemoveOutput("Synth A");
  DeviceNotice();
  EXPECT_EQ(Captions(FOutModel), TStrings{"none"});
  Store("MidiOut", "MIDI Mapper");
  FOut.LoadFromRegistry();
  EXPECT_TRUE(FOut.IsClosed());
  EXPECT_EQ(FOut.LateBindingName(), "MIDI Mapper");
  EXPECT_EQ(TakeTexts(),
            TStrings{"Waiting for MIDI OUT MIDI Mapper to be plugged in or switched on."});

  FService.AddOutput("Synth A");
  DeviceNotice();
  EXPECT_EQ(Checked(FOutModel), TStrings{"MIDI Mapper"});
  EXPECT_EQ(TakeTexts(), TStrings{"Opened MIDI OUT: MIDI Mapper"});
  EXPECT_TRUE(FOut.LateBindingName().empty());
}

TEST_F(MidiMenus, StoredInputPluggedInLaterOpensByItself) {
  Store("MidiIn", "Synth C");
  FIn.LoadFromRegistry();
  EXPECT_EQ(TakeTexts(), TStrings{"Waiting for MIDI IN Synth C to be plugged in or switched on."});
  EXPECT_EQ(Checked(FInModel), TStrings{"none"});

  // The wish survives choosing "none" and a save meanwhile.
  Click(FInModel, "none");
  SaveBoth();
  EXPECT_EQ(Stored("MidiIn"), TRegValue::FromText("Synth C"));

  FService.AddInput("Synth C");
  EXPECT_EQ(FNotices, 1);
  DeviceNotice();
  EXPECT_EQ(TakeTexts(), TStrings{"Opened MIDI IN: Synth C"});
  EXPECT_EQ(Checked(FInModel), TStrings{"Synth C"});
  EXPECT_TRUE(FIn.LateBindingName().empty());
  EXPECT_TRUE(InjectedNoteArrives("Synth C"));
}

TEST_F(MidiMenus, SavesFiltersAndNeverWritesLoopDetectionAsOn) {
  FIn.SetActiveSensing(true);
  FIn.Input().SetDetectMidiLoop(true);
  FOut.Output().SetDetectMidiLoop(true);
  SaveBoth();
  EXPECT_EQ(Stored("ActiveSensing"), TRegValue::FromText("1"));
  EXPECT_EQ(Stored("TimingClock"), TRegValue::FromText("0"));
  EXPECT_EQ(Stored("SysExOnly"), TRegValue::FromText("0"));
  EXPECT_FALSE(Stored("DetectMidiLoop").has_value());

  FOut.Output().SetDetectMidiLoop(false);
  SaveBoth();
  EXPECT_EQ(Stored("DetectMidiLoop"), TRegValue::FromText("0"));

  // Stored as on by hand, it switches the test on for both, and the filters load.
  Store("DetectMidiLoop", "1");
  Store("TimingClock", "1");
  FIn.Input().SetDetectMidiLoop(false);
  LoadBoth();
  EXPECT_TRUE(FIn.Input().DetectMidiLoop());
  EXPECT_TRUE(FOut.Output().DetectMidiLoop());
  EXPECT_TRUE(FIn.TimingClock());
  EXPECT_TRUE(FIn.Input().GetTimingClock());
}

TEST_F(MidiMenus, RefusesBothEndsOfAVirtualCableWhileLoopDetectionIsOn) {
  for (const char* name :
       {"LoopBE Internal MIDI", "loopbe 2", "Midi Through:Midi Through Port-0", "My LoopBE"}) {
    FService.AddInput(name);
    FService.AddOutput(name);
  }
  DeviceNotice();
  FIn.Input().SetDetectMidiLoop(true);
  FOut.Output().SetDetectMidiLoop(true);

  for (const char* name :
       {"LoopBE Internal MIDI", "loopbe 2", "Midi Through:Midi Through Port-0"}) {
    Click(FOutModel, name);
    FErrors.clear();
    Click(FInModel, name);
    ASSERT_EQ(FErrors.size(), 1u) << name;
    EXPECT_EQ(FErrors[0],
              std::string("Opening \"") + name + "\" would create a virtual feedback loop !");
    EXPECT_EQ(Checked(FInModel), TStrings{"none"});
  }

  // Not a virtual port name: the prefix must begin the name.
  Click(FOutModel, "My LoopBE");
  FErrors.clear();
  Click(FInModel, "My LoopBE");
  EXPECT_TRUE(FErrors.empty());
  EXPECT_EQ(Checked(FInModel), TStrings{"My LoopBE"});

  // Off, as the window starts: the same pair is allowed.
  FIn.Input().SetDetectMidiLoop(false);
  Click(FOutModel, "LoopBE Internal MIDI");
  Click(FInModel, "LoopBE Internal MIDI");
  EXPECT_TRUE(FErrors.empty());
  EXPECT_TRUE(NoteArrives());
}

TEST_F(MidiMenus, NoticesWithoutANewDeviceReCheckOnceTenSecondsAfterTheLast) {
  DeviceNotice();
  FTimers.Advance(5000);
  DeviceNotice();
  // A device that shows up without a notice of its own (one notice for several
  // changes) is found by the re-check.
  FService.AddInput("Synth B");
  FTimers.Advance(9999);
  EXPECT_EQ(Captions(FInModel), (TStrings{"none", "-", LoopbackPortName, "Synth A"}));
  FTimers.Advance(1);
  EXPECT_EQ(Captions(FInModel), (TStrings{"none", "-", LoopbackPortName, "Synth A", "Synth B"}));
  EXPECT_FALSE(FTimers.AnyActive());
}

TEST_F(MidiMenus, OneDeviceLeavingWhileAnotherArrivesIsNoUnchangedList) {
  FService.RemoveInput("Synth A");
  FService.AddInput("Synth B");
  DeviceNotice();
  EXPECT_EQ(Captions(FInModel), (TStrings{"none", "-", LoopbackPortName, "Synth B"}));
}

TEST_F(MidiMenus, OpenDeviceStaysOpenWhilePortsBeforeAndAfterItComeAndGo) {
  Click(FInModel, "Synth A");
  Click(FOutModel, "Synth A");
  TakeTexts();

  FService.AddInput("Synth B");
  DeviceNotice();
  EXPECT_EQ(Checked(FInModel), TStrings{"Synth A"});

  // Its index moves down and up again; the connection stays.
  FService.AddInput("Synth 0", 0);
  DeviceNotice();
  EXPECT_EQ(Checked(FInModel), TStrings{"Synth A"});
  EXPECT_EQ(FIn.GetDeviceID(), 2);
  FService.RemoveInput("Synth 0");
  FService.RemoveOutput(LoopbackPortName);
  DeviceNotice();
  EXPECT_EQ(Checked(FInModel), TStrings{"Synth A"});
  EXPECT_EQ(Checked(FOutModel), TStrings{"Synth A"});
  EXPECT_EQ(FIn.GetDeviceID(), 1);
  EXPECT_EQ(FOut.GetDeviceID(), 0);
  EXPECT_TRUE(TakeTexts().empty());
  EXPECT_TRUE(NoteArrives());

  // Closing after a move closes the right port: it can be opened again at once.
  Click(FInModel, "none");
  Click(FInModel, "Synth A");
  EXPECT_TRUE(FErrors.empty());
}

TEST_F(MidiMenus, UnpluggedOpenDeviceIsReleasedAndReopenedWhenItReturns) {
  Click(FInModel, "Synth A");
  Click(FOutModel, "Synth A");
  TakeTexts();

  FService.RemoveInput("Synth A");
  DeviceNotice();
  EXPECT_TRUE(FIn.IsClosed());
  EXPECT_EQ(Checked(FInModel), TStrings{"none"});
  EXPECT_EQ(TakeTexts(), TStrings{"Closed MIDI IN: Synth A. Its port has gone away."});
  // A device lost while open is no wish for the next start.
  SaveBoth();
  EXPECT_EQ(Stored("MidiIn"), TRegValue::FromText("(none)"));

  FService.AddInput("Synth A");
  DeviceNotice();
  EXPECT_EQ(TakeTexts(), TStrings{"Opened MIDI IN: Synth A"});
  EXPECT_EQ(Checked(FInModel), TStrings{"Synth A"});
  EXPECT_TRUE(FErrors.empty());
  EXPECT_TRUE(NoteArrives());

  // Chosen "none" meanwhile: the device is not wanted back.
  FService.RemoveInput("Synth A");
  DeviceNotice();
  Click(FInModel, "none");
  FService.AddInput("Synth A");
  DeviceNotice();
  EXPECT_TRUE(FIn.IsClosed());
}

TEST_F(MidiMenus, MapperFollowsTheFirstOutput) {
  Click(FInModel, "Synth A");
  Click(FOutModel, "MIDI Mapper");
  FService.RemoveOutput(LoopbackPortName);
  DeviceNotice();
  EXPECT_EQ(Checked(FOutModel), TStrings{"MIDI Mapper"});
  EXPECT_TRUE(NoteArrives());

  FService.RemoveOutput("Synth A");
  DeviceNotice();
  EXPECT_TRUE(FOut.IsClosed());
  EXPECT_EQ(Checked(FOutModel), TStrings{"none"});
}

} // namespace
} // namespace pelrow::test
