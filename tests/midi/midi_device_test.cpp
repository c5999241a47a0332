// Device choice, the open/close life cycle, device lists and open failures, shared
// by the input and output devices.
#include "device_fixture.h"

namespace pelrow {
namespace {

using Device = test::DeviceFixture;

TEST_F(Device, SetDeviceIdAcceptsMapperOnlyForOutputAndNothingBeyondTheCount) {
  FInput.SetDeviceID(MidiMapper);
  EXPECT_EQ(FInput.DeviceID(), NoDevice);
  EXPECT_EQ(FInput.DeviceName(), "");
  FOutput.SetDeviceID(MidiMapper);
  EXPECT_EQ(FOutput.DeviceID(), MidiMapper);
  EXPECT_EQ(FOutput.DeviceName(), "MIDI Mapper");
  FOutput.SetDeviceID(FOutput.GetNumDevs());
  EXPECT_EQ(FOutput.DeviceID(), NoDevice);
  EXPECT_EQ(FOutput.DeviceName(), "");
  FInput.SetDeviceID(0);
  EXPECT_EQ(FInput.DeviceName(), "Pelrow Loopback");
}

TEST_F(Device, ChangingTheDeviceWhileOpenIsRefusedAndChangesNothing) {
  OpenInput();
  FService.AddInput("Synth A");
  try {
    FInput.SetDeviceID(1);
    FAIL() << "no exception";
  } catch (const EMidiError& error) {
    EXPECT_STREQ(error.what(), "Internal error: change MIDI port by ID while device is open");
  }
  EXPECT_EQ(FInput.DeviceID(), 0);
  EXPECT_EQ(FInput.DeviceName(), "Pelrow Loopback");
}

TEST_F(Device, FillDeviceListPutsTheMapperFirstOnlyWhenThereAreDevices) {
  TDeviceList list = {{"stale", 7}};
  FOutput.FillDeviceList(list);
  ASSERT_EQ(list.size(), 2u);
  EXPECT_EQ(list[0].Name, "MIDI Mapper");
  EXPECT_EQ(list[0].Index, MidiMapper);
  EXPECT_EQ(list[1].Name, "Pelrow Loopback");
  EXPECT_EQ(list[1].Index, 0);
  FService.RemoveOutput(LoopbackPortName);
  FOutput.FillDeviceList(list);
  EXPECT_TRUE(list.empty());
  FInput.FillDeviceList(list);
  ASSERT_EQ(list.size(), 1u);
}

TEST_F(Device, OpenTwiceDoesNothingAndClosingAClosedDeviceOnlyUnlistsIt) {
  OpenOutput();
  FOutput.Open();
  EXPECT_TRUE(FOutput.IsOpen());
  EXPECT_TRUE(OpenDeviceListContains(MidiOutputDirection, "Pelrow Loopback"));
  FOutput.Close();
  EXPECT_TRUE(FOutput.IsClosed());
  EXPECT_FALSE(OpenDeviceListContains(MidiOutputDirection, "Pelrow Loopback"));
  // The choice stays for the menus to reset.
  EXPECT_EQ(FOutput.DeviceID(), 0);
  OpenDeviceListAdd(MidiOutputDirection, "Pelrow Loopback");
  FOutput.Close();
  EXPECT_FALSE(OpenDeviceListContains(MidiOutputDirection, "Pelrow Loopback"));
}

TEST_F(Device, OpenFailuresNameTheDeviceAndTheServiceText) {
  FService.FailOpen(TLoopbackDirection::Input, LoopbackPortName, MidiErrAllocated);
  FInput.SetDeviceID(0);
  try {
    FInput.Open();
    FAIL() << "no exception";
  } catch (const EMidiInputError& error) {
    EXPECT_STREQ(error.what(), "Cannot open MIDI input device \"Pelrow Loopback\":\r\n"
                               "The device is already in use by another program.");
    EXPECT_EQ(error.ErrorCode, MidiErrAllocated);
  }
  EXPECT_TRUE(FInput.IsClosed());
  EXPECT_FALSE(OpenDeviceListContains(MidiInputDirection, "Pelrow Loopback"));

  FService.FailOpen(TLoopbackDirection::Output, LoopbackPortName, 4321);
  FOutput.SetDeviceID(0);
  try {
    FOutput.Open();
    FAIL() << "no exception";
  } catch (const EMidiOutputError& error) {
    EXPECT_STREQ(error.what(),
                 "Cannot open MIDI output device \"Pelrow Loopback\":\r\nUnspecified error");
    EXPECT_EQ(error.ErrorCode, 4321u);
  }
  EXPECT_TRUE(FOutput.IsClosed());
}

TEST_F(Device, TheFeedbackLoopTestRefusesTheOpenOnlyWhileDetectionIsOn) {
  SetFeedbackLoopTest([](int direction, const std::string& name) {
    return direction == MidiOutputDirection && name == "Pelrow Loopback";
  });
  FOutput.SetDeviceID(0);
  try {
    FOutput.Open();
    ADD_FAILURE() << "no exception";
  } catch (const EVirtualMIDIFeedback& error) {
    EXPECT_STREQ(error.what(),
                 "Opening \"Pelrow Loopback\" would create a virtual feedback loop !");
  }
  EXPECT_TRUE(FOutput.IsClosed());
  FOutput.SetDetectMidiLoop(false);
  FOutput.Open();
  EXPECT_TRUE(FOutput.IsOpen());
  SetFeedbackLoopTest(nullptr);
}

TEST_F(Device, ADeviceThatMovedIsDroppedAndItsBackendPortReleased) {
  OpenInput();
  // A device appended after it leaves the open input where it was.
  FService.AddInput("Synth B");
  // The menus count the devices before they validate the open one.
  FInput.GetNumDevs();
  FInput.ValidateOpenDevice();
  EXPECT_TRUE(FInput.IsOpen());
  // One plugged in before it moves it to another index.
  FService.AddInput("Synth A", 0);
  FInput.GetNumDevs();
  FInput.ValidateOpenDevice();
  EXPECT_TRUE(FInput.IsClosed());
  EXPECT_EQ(FInput.EventCount(), 0);
  EXPECT_FALSE(OpenDeviceListContains(MidiInputDirection, "Pelrow Loopback"));
  // The loopback input is free again: nothing of the dropped device holds it.
  std::unique_ptr<TMidiInPort> port;
  EXPECT_EQ(FService.OpenInput(1, {}, port), MidiOk);
}

TEST_F(Device, TheMapperOpensTheFirstOutput) {
  CollectEvents();
  OpenInput();
  FOutput.SetDeviceID(MidiMapper);
  FOutput.Open();
  EXPECT_TRUE(FOutput.SendShort(0xC0, 0x05, 0x00));
  ASSERT_TRUE(RunUntilEvents(1));
  EXPECT_EQ(FEvents[0]->Status, 0xC0);
  EXPECT_EQ(FEvents[0]->Data1, 0x05);
}

} // namespace
} // namespace pelrow
