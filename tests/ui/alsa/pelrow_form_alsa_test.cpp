// The main window over the kernel's ALSA sequencer, as a user with a synthesizer
// on a USB MIDI cable has it: devices chosen from the MIDI menus, the Out box sent
// out of the cable and a bulk dump from the cable shown in the In box. Virtual raw
// MIDI ports stand in for the cable, their raw devices carrying its bytes, and so
// does the guest's USB MIDI device.
#include "alsa_fixture.h"

#include "app/qt/status_bar.h"
#include "app/receive_pump.h"
#include "ui/app/form_fixture.h"
#include "ui/device_menu.h"

namespace pelrow::test {
namespace {

using Bytes = std::vector<uint8_t>;
using testing::SysEx;
using testing::TRawMidi;

constexpr int CableWaitMs = 10000;

std::string HexLine(const Bytes& bytes) {
  static const char digits[] = "0123456789ABCDEF";
  std::string line;
  for (const uint8_t byte : bytes) {
    if (!line.empty())
      line += ' ';
    line += digits[byte >> 4];
    line += digits[byte & 15];
  }
  return line;
}

Bytes Joined(std::initializer_list<Bytes> parts) {
  Bytes bytes;
  for (const Bytes& part : parts)
    bytes.insert(bytes.end(), part.begin(), part.end());
  return bytes;
}

// The bytes a box shows, whichever way its lines are cut.
Bytes Shown(const std::vector<std::string>& lines) {
  Bytes bytes;
  for (const std::string& line : lines)
    for (size_t at = 0; at + 1 < line.size(); at += 3)
      bytes.push_back(uint8_t(std::stoi(line.substr(at, 2), nullptr, 16)));
  return bytes;
}

class PelrowFormAlsa : public FormFixture {
protected:
  void SetUp() override {
    FormFixture::SetUp();
    testing::RequireSequencer();
    if (IsSkipped() || HasFatalFailure())
      return;
    std::string failure;
    OtherMidiSystem = CreateAlsaMidiService(failure);
    ASSERT_TRUE(OtherMidiSystem) << failure;
  }

  // The Out box (a SysEx of sysExBytes over two lines and a note, at the cable's
  // own pace) goes out to outPort and arrives at outCable byte for byte; a dump
  // written into inCable (two SysEx messages, a note between them) shows in the
  // In box. The note shows at once; the dump waits behind its panel until the
  // input has been quiet for a second.
  void SendTheOutBoxAndReceiveADump(TRawMidi& outCable, const std::string& outPort,
                                    TRawMidi& inCable, const std::string& inPort,
                                    size_t sysExBytes) {
    auto form = Start();
    ASSERT_TRUE(ChooseDevice(*form, "MidiOut1", outPort));
    ASSERT_TRUE(ChooseDevice(*form, "MidiIn1", inPort));
    ASSERT_TRUE(form->CurrentOutput()->IsOpen());
    ASSERT_TRUE(form->CurrentInput()->IsOpen());
    EXPECT_TRUE(ErrorBoxes.empty());

    const Bytes sysEx = SysEx(sysExBytes, 5);
    const Bytes note = {0x90, 0x3C, 0x7F};
    const size_t half = sysEx.size() / 2;
    form->SXOutput->Lines().Clear();
    form->SXOutput->Lines().Add(HexLine(Bytes(sysEx.begin(), sysEx.begin() + half)));
    form->SXOutput->Lines().Add(HexLine(Bytes(sysEx.begin() + half, sysEx.end())));
    form->SXOutput->Lines().Add(HexLine(note));
    QTest::keyRelease(form->SXOutput, Qt::Key_F4);
    const Bytes sent = Joined({sysEx, note});
    EXPECT_EQ(form->PStatusBar->PanelText(0),
              QString::fromStdString("Sent " + std::to_string(sent.size()) + " bytes"));
    EXPECT_EQ(testing::Difference(outCable.Read(sent.size(), CableWaitMs), sent), "");

    const Bytes first = SysEx(3000, 0x11);
    const Bytes second = SysEx(2000, 0x22);
    ASSERT_TRUE(inCable.Write(Joined({first, note, second})));
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return form->ReceivePump().PendingBytes() == 5000; }, CableWaitMs));
    EXPECT_TRUE(form->PRcvBulkDump->isVisible());
    EXPECT_EQ(LinesOf(form->SXInput), std::vector<std::string>{HexLine(note)});
    Clock.Skip(TReceivePump::BulkTimerIntervalMs);
    BulkTimer().Fire();
    EXPECT_FALSE(form->PRcvBulkDump->isVisible());
    const std::vector<std::string> shown = LinesOf(form->SXInput);
    ASSERT_FALSE(shown.empty());
    EXPECT_EQ(shown.front(), HexLine(note));
    EXPECT_EQ(testing::Difference(Shown(shown), Joined({note, first, second})), "");
    EXPECT_TRUE(LastLine(form->LogIn).starts_with("Received 5000 bytes of bulk dump (at "))
        << LastLine(form->LogIn);
    EXPECT_TRUE(ErrorBoxes.empty());
  }
};

TEST_F(PelrowFormAlsa, TheOutBoxGoesOutOfTheCableAndADumpFromItShowsInTheInBox) {
  TRawMidi outCable(0);
  TRawMidi inCable(1);
  ASSERT_TRUE(outCable.Ready() && inCable.Ready());
  SendTheOutBoxAndReceiveADump(outCable, outCable.PortName(), inCable, inCable.PortName(), 100);
}

// A real USB MIDI device ("Test Synth", from the guest's USB gadget, whose own raw
// device the test plays as the synthesizer), written and read through its raw device.
TEST_F(PelrowFormAlsa, TheOutBoxReachesAUsbSynthesizerAndItsDumpShowsInTheInBox) {
  TRawMidi synth("f_midi", 0);
  ASSERT_TRUE(synth.Ready()) << "no USB MIDI gadget";
  const std::string port = "Test Synth:Test Synth MIDI 1";
  SendTheOutBoxAndReceiveADump(synth, port, synth, port, 4000);
}

} // namespace
} // namespace pelrow::test
