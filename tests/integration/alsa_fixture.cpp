// The raw MIDI device, the peer client and the service of the ALSA tests.
#include "alsa_fixture.h"

#include "alsa_client_pool.h"

#include <poll.h>
#include <pthread.h>
#include <sched.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <thread>

namespace pelrow::testing {

namespace {
using Clock = std::chrono::steady_clock;
constexpr size_t RawBufferBytes = size_t(1) << 20; // the most the kernel allows
constexpr size_t KernelSysExPiece = 256;
// A reader that takes nothing from its queue for this long has stopped.
constexpr int ReaderStallMs = 30000;

} // namespace

namespace {
constexpr const char* VirtualCard = "VirMIDI";
} // namespace

TRawMidi::TRawMidi(int device) : TRawMidi(VirtualCard, device) {}

// A virtual raw MIDI device passes bytes on as they are written; a USB gadget
// takes them from its ring on its own (see WriteWhole).
TRawMidi::TRawMidi(const std::string& cardName, int device)
    : FCard(CardNamed(cardName)), FDevice(device), FDrainEachPiece(cardName != VirtualCard) {
  if (FCard < 0)
    return;
  const std::string name = "hw:" + std::to_string(FCard) + "," + std::to_string(device);
  // Two opens: one handle for both ways would share one blocking mode.
  if (snd_rawmidi_open(&FIn, nullptr, name.c_str(), SND_RAWMIDI_NONBLOCK) < 0)
    FIn = nullptr;
  if (snd_rawmidi_open(nullptr, &FOut, name.c_str(), 0) < 0)
    FOut = nullptr;
  if (!Ready())
    return;
  snd_rawmidi_params_t* params;
  snd_rawmidi_params_alloca(&params);
  snd_rawmidi_params_current(FIn, params);
  snd_rawmidi_params_set_buffer_size(FIn, params, RawBufferBytes);
  snd_rawmidi_params(FIn, params);
  // The first read starts the input; until then the sequencer's events are dropped.
  std::vector<uint8_t> none;
  ReadSome(none, 0);
}

TRawMidi::~TRawMidi() {
  if (FIn)
    snd_rawmidi_close(FIn);
  if (FOut)
    snd_rawmidi_close(FOut);
}

std::string TRawMidi::PortName() const {
  const std::string number = std::to_string(FCard) + "-" + std::to_string(FDevice);
  return "Virtual Raw MIDI " + number + ":VirMIDI " + number;
}

// The client that reads from this device's sequencer port, or -1.
int TRawMidi::ReaderClient(snd_seq_t* seq) const {
  const std::string client = PortName().substr(0, PortName().find(':'));
  snd_seq_client_info_t* info;
  snd_seq_client_info_alloca(&info);
  snd_seq_client_info_set_client(info, -1);
  int id = -1;
  while (id < 0 && snd_seq_query_next_client(seq, info) >= 0)
    if (client == snd_seq_client_info_get_name(info))
      id = snd_seq_client_info_get_client(info);
  if (id < 0)
    return -1;
  snd_seq_query_subscribe_t* query;
  snd_seq_query_subscribe_alloca(&query);
  const snd_seq_addr_t root{uint8_t(id), 0};
  snd_seq_query_subscribe_set_root(query, &root);
  snd_seq_query_subscribe_set_type(query, SND_SEQ_QUERY_SUBS_READ);
  snd_seq_query_subscribe_set_index(query, 0);
  if (snd_seq_query_port_subscribers(seq, query) < 0)
    return -1;
  return snd_seq_query_subscribe_get_addr(query)->client;
}

bool TRawMidi::WaitForReader(int timeoutMs) const {
  snd_seq_t* seq = nullptr;
  if (snd_seq_open(&seq, "default", SND_SEQ_OPEN_DUPLEX, 0) < 0)
    return false;
  bool found = false;
  const auto limit = Clock::now() + std::chrono::milliseconds(timeoutMs);
  while (!(found = ReaderClient(seq) >= 0) && Clock::now() < limit)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  snd_seq_close(seq);
  return found;
}

namespace {
// Keeps the calling thread on one processor, always the same, while it lives.
// The kernel's raw MIDI write counts bytes as written before it copies them into
// the device's 4 KB ring, with the ring unlocked; a virtual port's sender running
// on another processor meanwhile passes on what the ring held a lap earlier (seen
// as single bytes or runs of them replaced by the bytes 4096 places before). The
// sender is queued on the writer's processor and cannot interrupt the copy there.
class TOneProcessor {
public:
  TOneProcessor() {
    FPinned = pthread_getaffinity_np(pthread_self(), sizeof FOld, &FOld) == 0;
    if (!FPinned)
      return;
    int first = 0;
    while (first < CPU_SETSIZE && !CPU_ISSET(first, &FOld))
      ++first;
    cpu_set_t one;
    CPU_ZERO(&one);
    CPU_SET(first, &one);
    FPinned = pthread_setaffinity_np(pthread_self(), sizeof one, &one) == 0;
  }
  ~TOneProcessor() {
    if (FPinned)
      pthread_setaffinity_np(pthread_self(), sizeof FOld, &FOld);
  }
  TOneProcessor(const TOneProcessor&) = delete;
  TOneProcessor& operator=(const TOneProcessor&) = delete;

private:
  cpu_set_t FOld;
  bool FPinned = false;
};

// The reader of a raw device's port, for a writer that never gives it more than
// its input queue holds: the virtual port drops what does not fit, where a cable
// (3125 bytes a second) never comes close to filling it.
class TReaderQueue {
public:
  explicit TReaderQueue(const TRawMidi& raw) {
    if (snd_seq_open(&FSeq, "default", SND_SEQ_OPEN_DUPLEX, 0) < 0) {
      FSeq = nullptr;
      return;
    }
    pollfd fd{};
    if (snd_seq_poll_descriptors(FSeq, &fd, 1, POLLIN) == 1)
      FFd = fd.fd;
    FClient = raw.ReaderClient(FSeq);
  }
  ~TReaderQueue() {
    if (FSeq)
      snd_seq_close(FSeq);
  }
  TReaderQueue(const TReaderQueue&) = delete;
  TReaderQueue& operator=(const TReaderQueue&) = delete;

  // Waits until the reader's queue is at most half full; false when the reader
  // took nothing for limitMs. Without a reader to watch, true at once.
  bool WaitForRoom(int limitMs) const {
    if (FClient < 0 || FFd < 0)
      return true;
    const auto limit = Clock::now() + std::chrono::milliseconds(limitMs);
    while (QueuedInputCells(FFd, FClient) > QueueCellsAhead) {
      if (Clock::now() > limit)
        return false;
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
  }

private:
  static constexpr int QueueCellsAhead = 1000; // of the 2000 a reader of ours has
  snd_seq_t* FSeq = nullptr;
  int FFd = -1;
  int FClient = -1;
};
} // namespace

bool TRawMidi::Write(const std::vector<uint8_t>& bytes) {
  const TOneProcessor pinned;
  const TReaderQueue reader(*this);
  constexpr size_t Piece = 4096;
  for (size_t done = 0; done < bytes.size(); done += Piece) {
    const std::vector<uint8_t> piece(bytes.begin() + long(done),
                                     bytes.begin() + long(std::min(bytes.size(), done + Piece)));
    if (!reader.WaitForRoom(ReaderStallMs) || !WriteWhole(piece))
      return false;
  }
  return true;
}

bool TRawMidi::WriteAtCablePace(const std::vector<uint8_t>& bytes) {
  constexpr size_t Piece = 32;
  constexpr auto PieceTime = std::chrono::microseconds(Piece * 320);
  auto next = Clock::now();
  for (size_t done = 0; done < bytes.size(); done += Piece) {
    const std::vector<uint8_t> piece(bytes.begin() + long(done),
                                     bytes.begin() + long(std::min(bytes.size(), done + Piece)));
    if (!WriteWhole(piece))
      return false;
    std::this_thread::sleep_until(next += PieceTime);
  }
  return true;
}

size_t TRawMidi::WriteFor(const std::vector<uint8_t>& bytes, int timeoutMs) {
  const TOneProcessor pinned;
  return WriteSome(bytes, timeoutMs);
}

// Each piece goes into an empty ring: the kernel copies a write into the device's
// ring unlocked, after counting it, and a USB gadget taking bytes meanwhile (on
// another processor) passes on what the ring held a lap before.
bool TRawMidi::WriteWhole(const std::vector<uint8_t>& bytes) {
  if (WriteSome(bytes, -1) != bytes.size())
    return false;
  if (!FDrainEachPiece)
    return true;
  // Not snd_rawmidi_drain: for this device it sleeps 50 ms on every call.
  snd_rawmidi_params_t* params;
  snd_rawmidi_params_alloca(&params);
  snd_rawmidi_status_t* status;
  snd_rawmidi_status_alloca(&status);
  if (snd_rawmidi_params_current(FOut, params) < 0)
    return false;
  const size_t ring = snd_rawmidi_params_get_buffer_size(params);
  const auto limit = Clock::now() + std::chrono::milliseconds(ReaderStallMs);
  while (snd_rawmidi_status(FOut, status) == 0 && snd_rawmidi_status_get_avail(status) < ring) {
    if (Clock::now() > limit)
      return false;
    std::this_thread::sleep_for(std::chrono::microseconds(200));
  }
  return true;
}

size_t TRawMidi::WriteSome(const std::vector<uint8_t>& bytes, int timeoutMs) {
  snd_rawmidi_nonblock(FOut, timeoutMs >= 0);
  const auto limit = Clock::now() + std::chrono::milliseconds(timeoutMs);
  size_t done = 0;
  while (done < bytes.size() && (timeoutMs < 0 || Clock::now() < limit)) {
    const ssize_t written = snd_rawmidi_write(FOut, bytes.data() + done, bytes.size() - done);
    if (written == -EAGAIN)
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    else if (written < 0)
      break;
    else
      done += size_t(written);
  }
  snd_rawmidi_nonblock(FOut, 0);
  return done;
}

size_t TRawMidi::ReadSome(std::vector<uint8_t>& bytes, int waitMs) {
  pollfd fds[4];
  const int count = snd_rawmidi_poll_descriptors(FIn, fds, 4);
  if (waitMs > 0)
    poll(fds, nfds_t(count), waitMs);
  uint8_t chunk[4096];
  const ssize_t got = snd_rawmidi_read(FIn, chunk, sizeof chunk);
  if (got <= 0)
    return 0;
  const auto now = Clock::now();
  if (bytes.empty()) {
    FFirst = now;
    FFirstBytes = size_t(got);
  }
  FLast = now;
  bytes.insert(bytes.end(), chunk, chunk + got);
  return size_t(got);
}

std::vector<uint8_t> TRawMidi::Read(size_t count, int timeoutMs) {
  std::vector<uint8_t> bytes;
  const auto limit = Clock::now() + std::chrono::milliseconds(timeoutMs);
  while (bytes.size() < count && Clock::now() < limit)
    ReadSome(bytes, 10);
  return bytes;
}

std::vector<uint8_t> TRawMidi::ReadUntilQuiet(int quietMs) {
  std::vector<uint8_t> bytes;
  auto quietSince = Clock::now();
  while (Clock::now() - quietSince < std::chrono::milliseconds(quietMs))
    if (ReadSome(bytes, 10) > 0)
      quietSince = Clock::now();
  return bytes;
}

TAlsaPeer::TAlsaPeer(const std::string& clientName) : FName(clientName) {
  if (snd_seq_open(&FSeq, "default", SND_SEQ_OPEN_DUPLEX, SND_SEQ_NONBLOCK) < 0) {
    FSeq = nullptr;
    return;
  }
  snd_seq_set_client_name(FSeq, FName.c_str());
  snd_seq_set_client_pool_input(FSeq, 2000);
  FPort =
      snd_seq_create_simple_port(FSeq, "port",
                                 SND_SEQ_PORT_CAP_READ | SND_SEQ_PORT_CAP_SUBS_READ |
                                     SND_SEQ_PORT_CAP_WRITE | SND_SEQ_PORT_CAP_SUBS_WRITE,
                                 SND_SEQ_PORT_TYPE_MIDI_GENERIC | SND_SEQ_PORT_TYPE_APPLICATION);
  if (snd_midi_event_new(KernelSysExPiece, &FCodec) == 0)
    snd_midi_event_no_status(FCodec, 1); // every message decoded in full
}

TAlsaPeer::~TAlsaPeer() {
  if (FCodec)
    snd_midi_event_free(FCodec);
  if (FSeq)
    snd_seq_close(FSeq);
}

void TAlsaPeer::Send(const std::vector<uint8_t>& bytes) {
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
    while (snd_seq_event_output_direct(FSeq, &event) == -EAGAIN)
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
}

std::vector<uint8_t> TAlsaPeer::Receive(size_t count, int timeoutMs) {
  std::vector<uint8_t> bytes;
  const auto limit = Clock::now() + std::chrono::milliseconds(timeoutMs);
  while (bytes.size() < count && Clock::now() < limit) {
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

int CardNamed(const std::string& cardName) {
  for (int card = -1; snd_card_next(&card) == 0 && card >= 0;) {
    char* name = nullptr;
    if (snd_card_get_name(card, &name) == 0) {
      const bool found = std::strstr(name, cardName.c_str()) != nullptr;
      std::free(name);
      if (found)
        return card;
    }
  }
  return -1;
}

void RequireSequencer() {
  if (access("/dev/snd/seq", R_OK | W_OK) == 0)
    return;
  const char* missing = "no ALSA sequencer device (/dev/snd/seq) on this machine";
  if (std::getenv("PELROW_REQUIRE_ALSA") != nullptr)
    FAIL() << missing << ", and PELROW_REQUIRE_ALSA is set";
  GTEST_SKIP() << missing << "; scripts/test runs these tests in the guest of scripts/alsa-vm";
}

void AlsaTest::SetUp() {
  RequireSequencer();
  if (IsSkipped() || HasFatalFailure())
    return;
  std::string failure;
  FService = CreateAlsaMidiService(failure);
  ASSERT_TRUE(FService) << failure;
  FService->SetOnDevicesChanged([this] { ++FNotices; });
}

namespace {
int WaitForName(TMidiService& service, const std::string& name, bool input, int timeoutMs) {
  const auto limit = Clock::now() + std::chrono::milliseconds(timeoutMs);
  do {
    const int count = input ? service.InputCount() : service.OutputCount();
    for (int i = 0; i < count; ++i) {
      std::string listed;
      if ((input ? service.InputName(i, listed) : service.OutputName(i, listed)) == MidiOk &&
          listed == name)
        return i;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  } while (Clock::now() < limit);
  return -1;
}
} // namespace

int AlsaTest::WaitForInput(const std::string& name) {
  return WaitForName(*FService, name, true, WaitMs);
}

int AlsaTest::WaitForOutput(const std::string& name) {
  return WaitForName(*FService, name, false, WaitMs);
}

bool AlsaTest::WaitUntilGone(const std::string& name, bool input) {
  const auto limit = Clock::now() + std::chrono::milliseconds(WaitMs);
  while (WaitForName(*FService, name, input, 0) >= 0)
    if (Clock::now() > limit)
      return false;
  return true;
}

void AlsaInputTest::SetUp() {
  AlsaTest::SetUp();
  if (IsSkipped() || HasFatalFailure())
    return;
  FRaw = std::make_unique<TRawMidi>(1);
  ASSERT_TRUE(FRaw->Ready());
  const int index = WaitForInput(FRaw->PortName());
  ASSERT_GE(index, 0);
  ASSERT_EQ(FService->OpenInput(index, FCollector.Callback(), FPort), MidiOk);
  FCollector.Attach(*FPort);
  ASSERT_EQ(FPort->Start(), MidiOk);
}

void AlsaInputTest::TearDown() {
  FCollector.Detach();
  FPort.reset();
}

void AlsaOutputTest::SetUp() {
  AlsaTest::SetUp();
  if (IsSkipped() || HasFatalFailure())
    return;
  FRaw = std::make_unique<TRawMidi>(0);
  ASSERT_TRUE(FRaw->Ready());
  const int index = WaitForOutput(FRaw->PortName());
  ASSERT_GE(index, 0);
  ASSERT_EQ(FService->OpenOutput(index, FSender.Callback(), FPort), MidiOk);
}

void AlsaOutputTest::TearDown() {
  FPort.reset();
}

} // namespace pelrow::testing
