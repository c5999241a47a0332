// The platform MIDI service: the one interface through which the device layer
// reaches real MIDI. Backends (ALSA sequencer, JACK, the built-in loopback) implement
// it; the device classes call nothing else.
//
// Threading rules every backend keeps:
// - TMidiService's enumeration and open calls run on the UI thread and return
//   quickly (names come from the backend's own cached list, refreshed on hot-plug).
// - Input callbacks run on a backend thread, never the UI thread, one at a time per
//   port and in arrival order. Long buffers come back in the order they were added.
// - Output completions run on a backend thread, one call per completed buffer.
// - TMidiInPort::AddBuffer may be called from any thread, also from inside the
//   input callback. Every other port call (Start, Stop, Reset, ShortMsg, LongMsg,
//   destruction) comes from one caller thread and never from inside a callback:
//   Reset and destruction wait for a running callback to finish.
// - Destroying a port closes it and releases everything the backend holds for it
//   (threads, ports, connections). Buffers still queued are handed back through the
//   callback first (input: as LongData; output: as completions), so nothing leaks.
//   After destruction no callback for that port runs any more.
// - The devices-changed handler may be called on any thread; it must only post a
//   notice to the UI thread, which then rescans once.
#pragma once

#include "support/text_format.h" // FormatText, for the MIDI layers' texts

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace pelrow {

// Result of a service call: 0 is success, anything else an error whose text the
// service supplies through InErrorText / OutErrorText.
using TMidiResult = uint32_t;

constexpr TMidiResult MidiOk = 0;
constexpr TMidiResult MidiErrUnspecified = 1;
constexpr TMidiResult MidiErrBadDeviceId = 2;
constexpr TMidiResult MidiErrAllocated = 4;
constexpr TMidiResult MidiErrInvalidHandle = 5;
constexpr TMidiResult MidiErrNoDriver = 6;
constexpr TMidiResult MidiErrNoMemory = 7;
constexpr TMidiResult MidiErrInvalidParam = 11;
constexpr TMidiResult MidiErrNotReady = 67;
constexpr TMidiResult MidiErrNoDevice = 68;
// Not a multimedia code: the port exists but refuses us (permissions, its policy).
constexpr TMidiResult MidiErrAccessDenied = 100;
// Codes from 1000 up are backend-specific; their backend supplies the texts.
constexpr TMidiResult MidiErrBackendBase = 1000;

// A long-message buffer handed to the service. The caller owns the memory; the
// service borrows it from AddBuffer/LongMsg until it hands it back.
struct TMidiBuffer {
  uint8_t* Data = nullptr;
  uint32_t BufferLength = 0;  // bytes available at Data
  uint32_t BytesRecorded = 0; // input: bytes the service wrote; output: see MidiBufferFailed
  void* User = nullptr;       // the caller's own back-reference
  uint32_t Flags = 0;         // MidiBuffer... flags, kept by the service
};

constexpr uint32_t MidiBufferDone = 0x1;    // handed back to the caller
constexpr uint32_t MidiBufferInQueue = 0x4; // queued with the service
// Output, with Done: the backend could not deliver all of it (the receiver refused
// it for good, or a reset dropped it); the buffer is completed all the same, its
// BytesRecorded the bytes that did go out.
constexpr uint32_t MidiBufferFailed = 0x100;

// What an input callback reports. The codes keep the values of the multimedia
// service the program was first written against, so traces read the same.
enum class TMidiInCode : uint32_t {
  Open = 0x3C1,
  Close = 0x3C2,
  Data = 0x3C3,         // Message: a packed short message
  LongData = 0x3C4,     // Buffer: filled (or returned by Reset with what it holds)
  Error = 0x3C5,        // Message: a byte that belongs to no message
  LongError = 0x3C6,    // Buffer: a SysEx cut short by another status byte
  MoreData = 0x3CC,     // Message: as Data, the caller is falling behind
  Overflow = 0x3E0,     // input was lost here (Message: bytes lost when known, else 0)
  Disconnected = 0x3E1, // the source was disconnected from outside: no more input
  // The MIDI system was interrupted here (a JACK xrun) while input was at risk:
  // input may be missing, but nothing says that any was lost. Message: bytes after
  // it that continued a message it cut, which were not kept.
  Interrupted = 0x3E2,
  Failed = 0x3E3, // Message: why the port can deliver nothing more (a result code)
  // The device's own input overran here, before the backend could read it (Message:
  // the bytes it dropped, with those of a message cut there).
  Overrun = 0x3E4,
};

struct TMidiInNotice {
  TMidiInCode Code = TMidiInCode::Data;
  uint32_t Message = 0; // status | data1 << 8 | data2 << 16
  TMidiBuffer* Buffer = nullptr;
  uint32_t Timestamp = 0; // milliseconds since Start
  // Interrupted: it ended a message whose pieces had all been handed on, so no
  // LongError piece says that the message was cut.
  bool Cut = false;
};

using TMidiInCallback = std::function<void(const TMidiInNotice& notice)>;
using TMidiOutCallback = std::function<void(TMidiBuffer& done)>;

// One open input. Input is delivered only between Start and Stop. SysEx bytes are
// written into the added buffers in order, one SysEx piece per buffer: a buffer is
// handed back when it is full or when F7 ends the message (F7 included). Real-time
// bytes (F8-FF) inside a SysEx come as short messages and do not end it. When no
// buffer is free the backend keeps the input (bounded) and reports Overflow beyond
// that bound, never a silent drop; short messages stay in order with SysEx data.
class TMidiInPort {
public:
  virtual ~TMidiInPort() = default;
  virtual TMidiResult Start() = 0;
  // Stops delivery; a partly filled buffer is handed back, empty ones stay queued.
  virtual TMidiResult Stop() = 0;
  // Stops and hands back every queued buffer before returning.
  virtual TMidiResult Reset() = 0;
  virtual TMidiResult AddBuffer(TMidiBuffer& buffer) = 0;
  // How long the MIDI system behind the port has run for it since it opened, in
  // ms: a server starved of the CPU reads no input, and its time stands still.
  // -1 where the system reads input all the time.
  virtual int64_t RunMs() const { return -1; }
};

// One open output. Short messages go out at once; long buffers are queued and
// completed later in order through the completion callback.
class TMidiOutPort {
public:
  virtual ~TMidiOutPort() = default;
  virtual TMidiResult ShortMsg(uint32_t packed) = 0;
  virtual TMidiResult LongMsg(TMidiBuffer& buffer) = 0;
  // Completes every queued long buffer (sent or not) before returning. What the
  // port held back of a message whose buffers it has completed still goes out.
  virtual TMidiResult Reset() = 0;
  // Nothing more follows for now: a message the port holds back for its rest (an
  // unterminated SysEx, a short message missing data bytes) goes out as it is,
  // behind everything sent before.
  virtual TMidiResult Flush() { return MidiOk; }
  // Blocks for at most ms until everything handed over, short messages too, has
  // been written; true when nothing is left.
  virtual bool WaitUntilWritten(uint32_t /*ms*/) { return true; }
  // Bytes of short messages the port took but did not send (the transport refused
  // them, or a reset dropped them).
  virtual uint64_t FailedShortBytes() const { return 0; }
  // 0 when the transport takes a message in pieces of any size; otherwise it takes
  // whole messages only, one per event of at most this many bytes (a longer SysEx
  // in pieces of this size), and bytes that form no message cannot go out.
  virtual uint32_t WholeMessageLimit() const { return 0; }
  // How often the server behind the port has reported an interruption of its
  // cycles (an xrun) since the program connected; 0 where there is no such report.
  virtual uint32_t Interruptions() const { return 0; }
};

class TMidiService {
public:
  virtual ~TMidiService() = default;

  // Short name for traces and the status line ("ALSA", "JACK", "Loopback").
  virtual std::string Name() const = 0;

  // Devices are numbered 0..count-1 per direction. A name is stable across replug
  // and reboot. An index names and opens the same port for every call until the
  // next count, however the ports change meanwhile (a port gone since then opens
  // as MidiErrNoDevice). A refused index gives a non-zero result and leaves name
  // untouched.
  virtual int InputCount() = 0;
  virtual int OutputCount() = 0;
  virtual TMidiResult InputName(int index, std::string& name) = 0;
  virtual TMidiResult OutputName(int index, std::string& name) = 0;
  // The numbers by which the MIDI system's own tools name a device ("20:0" for
  // ALSA, as aconnect shows it); empty where there are none.
  virtual std::string InputAddress(int) { return {}; }
  virtual std::string OutputAddress(int) { return {}; }

  // On success port is set; on failure it stays empty.
  virtual TMidiResult OpenInput(int index, TMidiInCallback callback,
                                std::unique_ptr<TMidiInPort>& port) = 0;
  virtual TMidiResult OpenOutput(int index, TMidiOutCallback callback,
                                 std::unique_ptr<TMidiOutPort>& port) = 0;

  // 0 when text was written; any other result means there is no text for code.
  virtual TMidiResult InErrorText(TMidiResult code, std::string& text) const;
  virtual TMidiResult OutErrorText(TMidiResult code, std::string& text) const;

  // MidiOk while the MIDI system runs; otherwise why its devices cannot be reached
  // now (a code whose text InErrorText gives), such as a server that stopped.
  virtual TMidiResult Failure() const { return MidiOk; }

  // Installs the devices-changed handler (see the threading rules above).
  virtual void SetOnDevicesChanged(std::function<void()> handler) = 0;
};

// How this process shows itself to the MIDI system: set before a service is made.
struct TMidiClientSettings {
  std::string Name = "Pelrow"; // the ALSA and JACK client name
  // Inputs take what arrives from the moment they are connected, not only once
  // they are started, so that nothing a source sends at once is missed (a
  // command-line capture). The window starts its inputs as it opens them.
  bool ListenAtConnect = false;
};
TMidiClientSettings& MidiClientSettings();

// Texts of the common result codes, shared by every backend; false for other codes.
bool CommonMidiErrorText(TMidiResult code, std::string& text);

// Factories of the platform backends, each defined in its own backend folder. The
// start-up choice calls them only where that backend is built (PELROW_HAVE_ALSA /
// PELROW_HAVE_JACK). A factory that finds its platform unusable (no sequencer
// device, no JACK server answering) returns null and says why in failure.
std::unique_ptr<TMidiService> CreateAlsaMidiService(std::string& failure);
std::unique_ptr<TMidiService> CreateJackMidiService(std::string& failure);
// A JACK service that also starts while no server runs, and picks one up once it does.
std::unique_ptr<TMidiService> CreateJackMidiServiceAwaitingServer();

} // namespace pelrow
