// Feeds arbitrary bytes, split at arbitrary points, through the input stream that
// every MIDI backend uses, and checks what comes out: buffers never overrun, short
// messages start with a status byte, SysEx pieces stay within the message, and
// neither more SysEx bytes nor more messages come out than bytes went in (running
// status lets a short message come from fewer bytes than it has).
#include "midi/service/midi_input_stream.h"

#include <condition_variable>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <vector>

namespace {

using namespace pelrow;

constexpr uint8_t Sentinel = 0xFF; // a real-time byte always comes out on its own

struct TCheck {
  std::mutex Mutex;
  std::condition_variable Changed;
  size_t RealTimeSeen = 0;
  size_t LongBytes = 0;
  size_t Messages = 0;
  bool Closing = false; // buffers handed back on the way out stay out
};

void Require(bool condition) {
  if (!condition)
    std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2)
    return 0;
  const uint32_t bufferSize = 1 + data[0] % 64;
  const size_t piece = 1 + data[1] % 16;
  std::vector<uint8_t> bytes(data + 2, data + size);
  bytes.push_back(Sentinel);
  size_t realTime = 0;
  for (uint8_t byte : bytes)
    realTime += byte >= 0xF8 ? 1 : 0;

  TCheck check;
  std::unique_ptr<TMidiInputStream> stream;
  stream = std::make_unique<TMidiInputStream>([&](const TMidiInNotice& notice) {
    std::lock_guard<std::mutex> lock(check.Mutex);
    if (notice.Buffer != nullptr) {
      Require(notice.Buffer->BytesRecorded <= notice.Buffer->BufferLength);
      check.LongBytes += notice.Buffer->BytesRecorded;
      // Only the last byte of a piece may end the SysEx.
      for (uint32_t i = 0; i + 1 < notice.Buffer->BytesRecorded; ++i)
        Require(notice.Buffer->Data[i] < 0x80 || (i == 0 && notice.Buffer->Data[i] == 0xF0));
      if (!check.Closing)
        stream->AddBuffer(*notice.Buffer);
      return;
    }
    if (notice.Code == TMidiInCode::Data) {
      const uint8_t status = static_cast<uint8_t>(notice.Message);
      Require(status >= 0x80);
      ++check.Messages;
      if (status >= 0xF8)
        ++check.RealTimeSeen;
      check.Changed.notify_all();
    } else if (notice.Code == TMidiInCode::Error) {
      ++check.Messages;
    }
  });
  std::vector<uint8_t> memory(bufferSize * 4);
  TMidiBuffer buffers[4];
  for (int i = 0; i < 4; ++i) {
    buffers[i].Data = memory.data() + i * bufferSize;
    buffers[i].BufferLength = bufferSize;
    stream->AddBuffer(buffers[i]);
  }
  stream->Start();
  for (size_t offset = 0; offset < bytes.size(); offset += piece)
    stream->Feed(bytes.data() + offset, std::min(piece, bytes.size() - offset));
  {
    std::unique_lock<std::mutex> lock(check.Mutex);
    check.Changed.wait(lock, [&] { return check.RealTimeSeen == realTime; });
    Require(check.LongBytes <= bytes.size() && check.Messages <= bytes.size());
    check.Closing = true;
  }
  stream->Reset();
  stream.reset();
  return 0;
}
