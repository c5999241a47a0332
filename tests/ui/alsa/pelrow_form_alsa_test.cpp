// The main window over the kernel's ALSA sequencer, as a user with a synthesizer
// on a USB MIDI cable has it: devices chosen from the MIDI menus, the Out box sent
// out of the cable and a bulk dump from the cable shown in the In box. Virtual raw
// MIDI ports stand in for the cable; their raw devices carry its bytes.
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
};

TEST_F(PelrowFormAlsa, TheOutBoxGoesOutOfTheCableAndADumpFromItShowsInTheInBox) {
  TRawMidi outCable(0);
  TRawMidi inCable(1);
  ASSERT_TRUE(outCable.Ready() && inCable.Ready());
  auto form = Start();
  ASSERT_TRUE(ChooseDevice(*form, "MidiOut1", outCable.PortName()));
  ASSERT_TRUE(ChooseDevice(*form, "MidiIn1", inCable.PortName()));
  ASSERT_TRUE(form->CurrentOutput()->IsOpen());
  ASSERT_TRUE(form->CurrentInput()->IsOpen());
  EXPECT_TRUE(ErrorBoxes.empty());

  // A SysEx over two lines of the Out box and a note, at the cable's own pace.
  const Bytes sysEx = SysEx(100, 5);
  const Bytes note = {0x90, 0x3C, 0x7F};
  form->SXOutput->Lines().Clear();
  form->SXOutput->Lines().Add(HexLine(Bytes(sysEx.begin(), sysEx.begin() + 40)));
  form->SXOutput->Lines().Add(HexLine(Bytes(sysEx.begin() + 40, sysEx.end())));
  form->SXOutput->Lines().Add(HexLine(note));
  QTest::keyRelease(form->SXOutput, Qt::Key_F4);
  EXPECT_EQ(form->PStatusBar->PanelText(0), "Sent 103 bytes");
  const Bytes sent = Joined({sysEx, note});
  EXPECT_EQ(testing::Difference(outCable.Read(sent.size(), CableWaitMs), sent), "");

  // A synthesizer's dump: two SysEx messages the kernel passes on in pieces, a
  // note between them. The note shows at once; the dump waits behind its panel
  // until the input has been quiet for a second.
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

} // namespace
} // namespace pelrow::test
