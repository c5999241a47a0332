// The ALSA backend against the real sequencer, with a second sequencer client as
// the far side. Machines without /dev/snd/seq skip these tests.
#include "midi/service/midi_service.h"
#include "support/midi_collectors.h"

#include <alsa/asoundlib.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <thread>

namespace pelrow::testing {
namespace {

using Bytes = std::vector<uint8_t>;
constexpr const char* PeerName = "pelrow-alsa-peer";
constexpr size_t KernelSysExPiece = 256;

bool HaveSequencer() {
  return access("/dev/snd/seq", R_OK | W_OK) == 0;
}

// A plain sequencer client with one port that both sends and records.
class TAlsaPeer {
public:
  TAlsaPeer() {
    if (snd_seq_open(&FSeq, "default", SND_SEQ_OPEN_DUPLEX, 0) < 0)
      return;
    snd_seq_set_client_name(FSeq, PeerName);
    snd_seq_set_client_pool_input(FSeq, 2000);
    snd_seq_set_input_buffer_size(FSeq, 256 << 10);
    snd_seq_set_output_buffer_size(FSeq, 64 << 10);
    FPort =
        snd_seq_create_simple_port(FSeq, "port",
                                   SND_SEQ_PORT_CAP_READ | SND_SEQ_PORT_CAP_SUBS_READ |
                                       SND_SEQ_PORT_CAP_WRITE | SND_SEQ_PORT_CAP_SUBS_WRITE,
                                   SND_SEQ_PORT_TYPE_MIDI_GENERIC | SND_SEQ_PORT_TYPE_APPLICATION);
    snd_midi_event_new(KernelSysExPiece, &FCodec);
    // Every message decoded in full, so what arrives compares byte for byte.
    if (FCodec)
      snd_midi_event_no_status(FCodec, 1);
  }
  ~TAlsaPeer() {
    if (FCodec)
      snd_midi_event_free(FCodec);
    if (FSeq)
      snd_seq_close(FSeq);
  }
  bool Ready() const { return FSeq != nullptr && FPort >= 0 && FCodec != nullptr; }
  static std::string PortName() { return std::string(PeerName) + ":port"; }

  // Sends a byte stream as the kernel passes on raw MIDI: SysEx in events of at
  // most 256 bytes, everything else as decoded events.
  void Send(const Bytes& bytes) {
    snd_midi_event_reset_encode(FCodec);
    long done = 0;
    while (done < long(bytes.size())) {
      snd_seq_event_t event;
      snd_seq_ev_clear(&event);
      const long used =
          snd_midi_event_encode(FCodec, bytes.data() + done, long(bytes.size()) - done, &event);
      if (used <= 0)
        return;
      done += used;
      if (event.type == SND_SEQ_EVENT_NONE)
        continue;
      snd_seq_ev_set_source(&event, FPort);
      snd_seq_ev_set_subs(&event);
      snd_seq_ev_set_direct(&event);
      snd_seq_event_output_direct(FSeq, &event);
    }
  }

  // Reads what arrives until count bytes came or timeoutMs passed.
  Bytes Receive(size_t count, int timeoutMs) {
    Bytes bytes;
    const auto limit = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    snd_seq_nonblock(FSeq, 1);
    while (bytes.size() < count && std::chrono::steady_clock::now() < limit) {
      snd_seq_event_t* event = nullptr;
      if (snd_seq_event_input(FSeq, &event) < 0 || event == nullptr) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
        continue;
      }
      if (event->type == SND_SEQ_EVENT_SYSEX) {
        const auto* data = static_cast<const uint8_t*>(event->data.ext.ptr);
        bytes.insert(bytes.end(), data, data + event->data.ext.len);
        continue;
      }
      unsigned char decoded[16];
      const long n = snd_midi_event_decode(FCodec, decoded, sizeof decoded, event);
      if (n > 0)
        bytes.insert(bytes.end(), decoded, decoded + n);
    }
    return bytes;
  }

  int AddPort(const char* name) {
    return snd_seq_create_simple_port(FSeq, name,
                                      SND_SEQ_PORT_CAP_READ | SND_SEQ_PORT_CAP_SUBS_READ,
                                      SND_SEQ_PORT_TYPE_MIDI_GENERIC);
  }
  void RemovePort(int port) { snd_seq_delete_simple_port(FSeq, port); }

private:
  snd_seq_t* FSeq = nullptr;
  snd_midi_event_t* FCodec = nullptr;
  int FPort = -1;
};

class AlsaTest : public ::testing::Test {
protected:
  void SetUp() override {
    if (!HaveSequencer())
      GTEST_SKIP() << "no ALSA sequencer device (/dev/snd/seq) on this machine; the ALSA "
                      "backend is tested where one exists";
    std::string failure;
    FService = CreateAlsaMidiService(failure);
    ASSERT_TRUE(FService) << failure;
    FService->SetOnDevicesChanged([this] { ++FNotices; });
    FPeer = std::make_unique<TAlsaPeer>();
    ASSERT_TRUE(FPeer->Ready());
  }

  int Find(const std::string& name, bool input) {
    const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (std::chrono::steady_clock::now() < limit) {
      const int count = input ? FService->InputCount() : FService->OutputCount();
      for (int i = 0; i < count; ++i) {
        std::string listed;
        if ((input ? FService->InputName(i, listed) : FService->OutputName(i, listed)) == MidiOk &&
            listed == name)
          return i;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return -1;
  }

  std::unique_ptr<TMidiService> FService;
  std::unique_ptr<TAlsaPeer> FPeer;
  std::atomic<int> FNotices{0};
};

TEST_F(AlsaTest, ListsPortsByClientAndPortNameAndReportsNewOnes) {
  EXPECT_GE(Find(TAlsaPeer::PortName(), true), 0);
  EXPECT_GE(Find(TAlsaPeer::PortName(), false), 0);
  const int before = FNotices;
  const int extra = FPeer->AddPort("extra");
  ASSERT_GE(extra, 0);
  EXPECT_GE(Find(std::string(PeerName) + ":extra", true), 0);
  EXPECT_GT(FNotices.load(), before);
  FPeer->RemovePort(extra);
  const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  while (Find(std::string(PeerName) + ":extra", true) >= 0 &&
         std::chrono::steady_clock::now() < limit)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  EXPECT_LT(Find(std::string(PeerName) + ":extra", true), 0);
}

TEST_F(AlsaTest, ReceivesSysExSplitByTheKernelAndShortMessagesInOrder) {
  const int index = Find(TAlsaPeer::PortName(), true);
  ASSERT_GE(index, 0);
  TInputCollector collector;
  std::unique_ptr<TMidiInPort> port;
  ASSERT_EQ(FService->OpenInput(index, collector.Callback(), port), MidiOk);
  collector.Attach(*port);
  ASSERT_EQ(port->Start(), MidiOk);
  Bytes sent = {0x90, 0x3C, 0x40};
  for (const Bytes& part : {SysEx(6, 1), SysEx(1024, 2), SysEx(64 * 1024, 3), Bytes{0xC0, 0x05}})
    sent.insert(sent.end(), part.begin(), part.end());
  FPeer->Send(sent);
  EXPECT_EQ(Difference(collector.WaitFor(sent.size(), 10000), sent), "");
  EXPECT_EQ(collector.Overflows(), 0);
  collector.Detach();
}

TEST_F(AlsaTest, SendsShortAndLongMessagesInOrder) {
  const int index = Find(TAlsaPeer::PortName(), false);
  ASSERT_GE(index, 0);
  TOutputSender sender;
  std::unique_ptr<TMidiOutPort> port;
  ASSERT_EQ(FService->OpenOutput(index, sender.Callback(), port), MidiOk);
  const Bytes sysEx = SysEx(64 * 1024, 4);
  ASSERT_EQ(port->ShortMsg(0x403C90), MidiOk);
  ASSERT_EQ(sender.SendLong(*port, sysEx), MidiOk);
  ASSERT_EQ(port->ShortMsg(0x05C0), MidiOk);
  Bytes expected = {0x90, 0x3C, 0x40};
  expected.insert(expected.end(), sysEx.begin(), sysEx.end());
  expected.insert(expected.end(), {0xC0, 0x05});
  EXPECT_EQ(Difference(FPeer->Receive(expected.size(), 10000), expected), "");
  EXPECT_TRUE(sender.WaitForCompletions(10000));

  // A dump split into 32-byte lines, and a SysEx cut short by the next line's status.
  const Bytes dump = SysEx(20 * 1024, 5);
  for (size_t at = 0; at < dump.size(); at += 32)
    ASSERT_EQ(sender.SendLong(*port, Bytes(dump.begin() + long(at),
                                           dump.begin() + long(std::min(dump.size(), at + 32)))),
              MidiOk);
  ASSERT_EQ(sender.SendLong(*port, {0xF0, 0x41, 0x10}), MidiOk);
  ASSERT_EQ(sender.SendLong(*port, {0x90, 0x3C, 0x40, 0x3E, 0x40}), MidiOk);
  expected = dump;
  expected.insert(expected.end(), {0xF0, 0x41, 0x10, 0x90, 0x3C, 0x40, 0x90, 0x3E, 0x40});
  EXPECT_EQ(Difference(FPeer->Receive(expected.size(), 10000), expected), "");
  EXPECT_TRUE(sender.WaitForCompletions(10000));
}

} // namespace
} // namespace pelrow::testing
