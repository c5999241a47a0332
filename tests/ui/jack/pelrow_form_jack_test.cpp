// The main window over JACK while its own thread is held up: a controller floods
// the input with short messages and then a bulk dump of tagged SysEx messages
// comes, all while the window handles no events (as when it is busy saving a large
// file). The input's ring runs full; what it cannot keep must show in the In box
// as a mark at its place, every message shown must be whole and right or marked
// cut, and the log and status line must say that input was lost. A server of the
// program's own in a private IPC namespace (see private_ipc_main.cpp), a separate
// raw libjack peer as the far end.
#include "app/line_formatter.h"
#include "app/qt/status_bar.h"
#include "app/receive_pump.h"
#include "support/jack_test_server.h"
#include "support/midi_collectors.h"
#include "support/peer_process.h"
#include "ui/app/form_fixture.h"
#include "ui/device_menu.h"

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <thread>

namespace pelrow::test {
namespace {

using namespace std::chrono_literals;
using testing::TJackServerProcess;
using testing::TPeerKind;
using testing::TPeerProcess;

constexpr int WaitMs = 20000;
// More short messages than the window's input ring has entries (1024).
constexpr size_t Flood = 1500;
constexpr size_t DumpMessages = 2000;
constexpr auto HeldUp = 400ms;

// The controller's flood (volume changes), then the dump.
std::vector<uint8_t> FloodThenDump() {
  std::vector<uint8_t> bytes;
  for (size_t i = 0; i < Flood; ++i)
    bytes.insert(bytes.end(), {0xB0, 0x07, uint8_t(i & 0x7F)});
  const std::vector<uint8_t> dump = testing::TaggedDump(DumpMessages);
  bytes.insert(bytes.end(), dump.begin(), dump.end());
  return bytes;
}

// A line of a short message: it starts with a status byte that neither begins nor
// ends a SysEx (an F7 may come on a line of its own).
bool IsShortMessageLine(const std::string& line) {
  if (line.size() < 2 || line[0] == ';')
    return false;
  const int first = std::stoi(line.substr(0, 2), nullptr, 16);
  return first >= 0x80 && first != 0xF0 && first != 0xF7;
}

// The bytes a mark line says were lost, 0 for other lines.
uint64_t LostInMark(const std::string& line) {
  unsigned long long lost = 0;
  const std::string format =
      std::string(LostMarkLine).replace(std::string(LostMarkLine).find("%d"), 2, "%llu");
  return std::sscanf(line.c_str(), format.c_str(), &lost) == 1 ? lost : 0;
}

class PelrowFormJack : public FormFixture {
protected:
  void SetUp() override {
    FormFixture::SetUp();
    Server = std::make_unique<TJackServerProcess>("pelrow-ui-" + std::to_string(getpid()));
    ASSERT_TRUE(Server->Start()) << "no jackd";
    Peer = std::make_unique<TPeerProcess>(TPeerKind::RawEvents);
    ASSERT_TRUE(Peer->Ok("open_out src"));
    std::string failure;
    OtherMidiSystem = CreateJackMidiService(failure);
    ASSERT_TRUE(OtherMidiSystem) << failure;
  }
  void TearDown() override {
    Peer.reset();
    OtherMidiSystem.reset();
    Server.reset();
  }

  std::unique_ptr<TJackServerProcess> Server;
  std::unique_ptr<TPeerProcess> Peer;
};

TEST_F(PelrowFormJack, AWindowHeldUpWhileADumpComesMarksWhatItCouldNotKeepAndSaysSo) {
  auto form = Start();
  ASSERT_TRUE(ChooseDevice(*form, "MidiIn1", TPeerProcess::PortName("src"), WaitMs));
  ASSERT_TRUE(form->CurrentInput()->IsOpen());
  form->SXInput->Lines().Clear();

  const std::vector<uint8_t> sent = FloodThenDump();
  std::atomic<bool> done{false};
  std::thread sender([&] {
    EXPECT_TRUE(Peer->SendBytes("src", sent));
    done = true;
  });
  std::this_thread::sleep_for(HeldUp); // this thread is the window's: nothing is handled
  // Then everything is taken in, and the dump shown once the input is quiet.
  int pendingBefore = -1;
  const bool settled = QTest::qWaitFor(
      [&] {
        QTest::qWait(300);
        const int pending = form->ReceivePump().PendingBytes();
        const bool still = done && pending == pendingBefore;
        pendingBefore = pending;
        return still;
      },
      WaitMs);
  sender.join();
  ASSERT_TRUE(settled);
  Clock.Skip(TReceivePump::BulkTimerIntervalMs);
  BulkTimer().Fire();
  // A dump this large is formatted beside the window and shown in pieces.
  ASSERT_TRUE(QTest::qWaitFor([&] { return !form->ReceivePump().ShowingBatch(); }, WaitMs));

  std::vector<std::string> dumpLines;
  uint64_t shownBytes = 0, lostBytes = 0;
  for (const std::string& line : LinesOf(form->SXInput)) {
    lostBytes += LostInMark(line);
    if (MarkLineKind(line) == TMarkLine::None)
      shownBytes += (line.size() + 1) / 3;
    if (!IsShortMessageLine(line))
      dumpLines.push_back(line);
  }
  const testing::TMarkedBytes got = testing::ReadMarkedLines(dumpLines);
  const testing::TTaggedCheck check = testing::CheckTagged(got.Bytes, got.LossOffsets);
  std::vector<size_t> marks = got.LossOffsets;
  marks.insert(marks.end(), got.MayBeLostOffsets.begin(), got.MayBeLostOffsets.end());
  std::printf("%zu of %zu messages whole, %zu cut; %llu bytes shown, %llu lost of %zu sent\n",
              check.Whole, DumpMessages, check.Cut, (unsigned long long)shownBytes,
              (unsigned long long)lostBytes, sent.size());

  EXPECT_EQ(check.Problem, "");
  const long unmarked = testing::FirstUnmarkedGap(got.Bytes, marks, DumpMessages);
  EXPECT_EQ(unmarked, -1) << "message " << unmarked << " went missing without a mark at its place";
  ASSERT_FALSE(got.LossOffsets.empty()) << "the input ring never ran full";
  // Every byte is shown or counted as lost, unless the server was interrupted too.
  if (got.MayBeLostOffsets.empty()) {
    EXPECT_EQ(shownBytes + lostBytes, sent.size());
  }
  // The log has the loss and a dump that says it is incomplete.
  const std::vector<std::string> log = LinesOf(form->LogIn);
  EXPECT_TRUE(std::any_of(log.begin(), log.end(), [](const std::string& line) {
    return line.starts_with("Error: Input lost: ");
  }));
  EXPECT_TRUE(std::any_of(log.begin(), log.end(), [](const std::string& line) {
    return line.find("of bulk dump") != std::string::npos &&
           line.find("but it is incomplete") != std::string::npos;
  }));
  // The status line ends with that, unless the server was interrupted after it:
  // then it warns that input may be missing, which tells the user as much.
  const QString status = form->PStatusBar->PanelText(1);
  EXPECT_TRUE(status.contains("but it is incomplete") || status.startsWith("Warning: "))
      << status.toStdString();
}

} // namespace
} // namespace pelrow::test
