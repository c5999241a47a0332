// Cuts an outgoing MIDI byte stream into whole messages, for transports that take
// one message per event. The stream may arrive in any split (a SysEx spread over
// several long buffers, a short message over two), so the splitter keeps its state
// between calls: running status is expanded into full messages, real-time bytes
// inside a SysEx or a short message come out as messages of their own in stream
// order, and bytes that belong to no message are handed on as such, never dropped.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>

namespace pelrow {

enum class TMidiPartKind {
  Short,      // one complete message of one to three bytes (status first)
  SysEx,      // a run of one SysEx message's bytes (see the flags)
  Stray,      // bytes that form no message: data without a status, a lone F7, a short
              // message cut short by another status byte
  Incomplete, // a short message still missing data bytes when the stream was flushed
};

struct TMidiPart {
  TMidiPartKind Kind = TMidiPartKind::Short;
  const uint8_t* Data = nullptr; // valid only during the sink call
  size_t Count = 0;
  // SysEx only. Starts: the run begins with F0. Ends: the message is over after this
  // run, with its F7 (Cut false) or cut short by another status byte (Cut true, the
  // run may then be empty).
  bool Starts = false;
  bool Ends = false;
  bool Cut = false;
};

class TMidiMessageSplitter {
public:
  using TSink = std::function<void(const TMidiPart& part)>;

  // Hands every part that data completes to sink, in stream order. A SysEx is handed
  // on as far as it has come; a short message waits for its last data byte.
  void Split(const uint8_t* data, size_t size, const TSink& sink);
  // A short message still waiting for data bytes goes out as Incomplete, and the
  // running status ends with it: data bytes that come later are the rest of that
  // message, not a message of their own. Otherwise running status and an open SysEx
  // are kept.
  void Flush(const TSink& sink);
  // Forgets everything: running status, an open SysEx, a waiting short message.
  void Reset();

  bool InSysEx() const { return FInSysEx; }
  // A short message has begun and waits for its data bytes.
  bool Collecting() const { return FCount > 0; }

private:
  void Status(uint8_t status, const TSink& sink);
  void Data(uint8_t byte, const TSink& sink);
  void EmitPending(TMidiPartKind kind, const TSink& sink);

  bool FInSysEx = false;
  uint8_t FRunning = 0; // channel status for running status, 0 when none
  uint8_t FMessage[3] = {};
  int FCount = 0;  // bytes of FMessage collected
  int FNeeded = 0; // bytes the message in FMessage needs
};

} // namespace pelrow
