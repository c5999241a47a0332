// The main window over JACK while a bulk dump of tagged SysEx messages comes and
// something goes wrong: its own thread is held up after a controller's flood of
// short messages (the input's ring runs full), or the server is frozen now and then
// while the source sends long messages in pieces. What is lost must show in the In
// box as a mark at its place, every message shown must be whole and right or marked
// cut, never joined to another (also in the box saved as .syx), and the log and
// status line must say what happened. A server of the program's own in a private
// IPC namespace (see private_ipc_main.cpp), a separate raw libjack peer as the far
// end.
#include "app/line_formatter.h"
#include "app/qt/status_bar.h"
#include "app/receive_pump.h"
#include "support/jack_test_server.h"
#include "support/midi_collectors.h"
#include "support/peer_process.h"
#include "support/scratch_folder.h"
#include "ui/app/form_fixture.h"
#include "ui/device_menu.h"

#include <QFileDialog>

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

  // Lets the window take everything in once the sender is done, and shows the dump
  // once the input is quiet.
  bool ShowWhenQuiet(TPelrowForm& form, const std::atomic<bool>& done) {
    int pendingBefore = -1;
    const bool settled = QTest::qWaitFor(
        [&] {
          QTest::qWait(300);
          const int pending = form.ReceivePump().PendingBytes();
          const bool still = done && pending == pendingBefore;
          pendingBefore = pending;
          return still;
        },
        WaitMs);
    if (!settled)
      return false;
    Clock.Skip(TReceivePump::BulkTimerIntervalMs);
    BulkTimer().Fire();
    // A dump this large is formatted beside the window and shown in pieces.
    return QTest::qWaitFor([&] { return !form.ReceivePump().ShowingBatch(); }, WaitMs);
  }

  std::unique_ptr<TJackServerProcess> Server;
  std::unique_ptr<TPeerProcess> Peer;
};

// Where raw bytes hold a System Exclusive message cut by another status byte.
std::vector<size_t> CutPlaces(const std::vector<uint8_t>& bytes) {
  std::vector<size_t> cuts;
  bool inside = false;
  for (size_t at = 0; at < bytes.size(); ++at) {
    if (bytes[at] < 0x80 || bytes[at] >= 0xF8)
      continue;
    if (inside && bytes[at] != 0xF7)
      cuts.push_back(at);
    inside = bytes[at] == 0xF0;
  }
  if (inside)
    cuts.push_back(bytes.size());
  return cuts;
}

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
  const bool shown = ShowWhenQuiet(*form, done);
  sender.join();
  ASSERT_TRUE(shown);

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
  const testing::TTaggedCheck check = testing::CheckTagged(got.Bytes, got.AllMarks());
  const std::vector<size_t> marks = got.AllMarks();
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

namespace pelrow::test {
namespace {

TEST_F(PelrowFormJack, AServerInterruptedWhileMessagesComeInPiecesJoinsNoneInTheBoxOrItsSyx) {
  auto form = Start();
  ASSERT_TRUE(ChooseDevice(*form, "MidiIn1", TPeerProcess::PortName("src"), WaitMs));
  form->SXInput->Lines().Clear();

  const std::vector<uint8_t> dump = testing::TaggedDump(DumpMessages);
  std::atomic<bool> done{false};
  std::thread sender([&] {
    EXPECT_TRUE(Peer->SendBytes("src", dump, 700));
    done = true;
  });
  for (int burst = 0; burst < 10; ++burst) {
    QTest::qWait(100);
    Server->Freeze();
    QTest::qWait(150);
    Server->Thaw();
  }
  const bool shown = ShowWhenQuiet(*form, done);
  sender.join();
  ASSERT_TRUE(shown);

  const testing::TMarkedBytes got = testing::ReadMarkedLines(LinesOf(form->SXInput));
  const testing::TTaggedCheck check = testing::CheckTagged(got.Bytes, got.AllMarks());
  std::printf("%zu of %zu messages whole, %zu cut, %zu marks of possible loss\n", check.Whole,
              DumpMessages, check.Cut, got.MayBeLostOffsets.size());
  EXPECT_EQ(check.Problem, "");
  const long unmarked = testing::FirstUnmarkedGap(got.Bytes, got.AllMarks(), DumpMessages);
  EXPECT_EQ(unmarked, -1) << "message " << unmarked << " went missing without a mark at its place";
  EXPECT_FALSE(got.MayBeLostOffsets.empty()) << "no interruption was marked";

  // Saved as raw bytes the marks are gone, but a cut message stays cut.
  TScratchFolder folder;
  const std::string path = folder.Path("dump.syx");
  WhenModal<QFileDialog>([&](QFileDialog& dialog) {
    dialog.selectFile(QString::fromStdString(path));
    static_cast<QDialog&>(dialog).accept();
  });
  form->MenuItem("SaveInAs1")->trigger();
  const auto saidSaved = [&] {
    const std::vector<std::string> log = LinesOf(form->LogIn);
    return std::any_of(log.begin(), log.end(),
                       [&](const std::string& line) { return line.starts_with(path + " saved"); });
  };
  ASSERT_TRUE(QTest::qWaitFor(saidSaved, WaitMs)) << LastLine(form->LogIn);
  EXPECT_NE(std::find(ErrorBoxes.begin(), ErrorBoxes.end(),
                      path + " is incomplete: input was lost or cut short while it was received "
                             "(see the marks in the box)."),
            ErrorBoxes.end());
  const std::string saved = ReadWholeFile(path);
  const std::vector<uint8_t> bytes(saved.begin(), saved.end());
  EXPECT_EQ(bytes, got.Bytes);
  EXPECT_EQ(testing::CheckTagged(bytes, CutPlaces(bytes)).Problem, "");
}

} // namespace
} // namespace pelrow::test
