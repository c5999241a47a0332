// A hardware sequencer port reached through its card's raw MIDI device. The
// sequencer gives a sender no back-pressure from a slow device (the kernel's port
// driver keeps 4 KB and drops what does not fit), and on input its driver reads
// the device into a 4 KB buffer that a fast USB dump overruns without a word to
// anyone. The raw device has neither fault: a write waits until the device takes
// the bytes, and a reader of its own gets a buffer of a megabyte and the count of
// bytes the device had to drop. Where the raw device cannot be opened (another
// program holds it), the sequencer is used as before.
#pragma once

#include "midi/service/alsa/alsa_device_observer.h"
#include "midi/service/midi_input_stream.h"
#include "midi/service/midi_service.h"
#include "midi/service/ordered_output.h"

#include <alsa/asoundlib.h>

#include <atomic>
#include <memory>
#include <string>
#include <thread>

namespace pelrow {

// "hw:CARD,DEVICE,SUBDEVICE" of a hardware port's raw MIDI device; empty for a port
// that is not one (a program's, a virtual raw MIDI port's, which carries its raw
// device's bytes the other way).
std::string RawMidiDeviceOf(const TAlsaPort& port);

// The kernel's count of bytes that a hardware port's raw MIDI input dropped for
// want of room, as it lists it in /proc/asound (only while the input is open, which
// it is while the sequencer reads it for somebody). The count is the device's, not
// one reader's: a rise while an input of it listens is that much input lost to it.
class TRawMidiOverruns {
public:
  TRawMidiOverruns() = default; // a port that has no such count
  explicit TRawMidiOverruns(const TAlsaPort& port);
  bool Exists() const { return !FPath.empty(); }
  // -1 where there is no count to read.
  int64_t Read() const;

private:
  std::string FPath;
  std::string FSection;
};

class TAlsaRawOutPort final : public TOrderedOutPort {
public:
  // Null with the open's result when the device cannot be opened.
  static std::unique_ptr<TAlsaRawOutPort> Open(const std::string& device, TMidiOutCallback callback,
                                               TMidiResult& result);
  ~TAlsaRawOutPort() override;

private:
  explicit TAlsaRawOutPort(TMidiOutCallback callback);
  void Run();
  void WriteAll(const uint8_t* data, size_t size);

  snd_rawmidi_t* FOut = nullptr;
  bool FFailed = false; // the device refused bytes of the buffer being written
  std::thread FWriter;
};

class TAlsaRawInPort final : public TMidiInputStream {
public:
  static std::unique_ptr<TAlsaRawInPort> Open(const std::string& device, TMidiInCallback callback,
                                              TMidiResult& result);
  ~TAlsaRawInPort() override;

  TMidiResult Start() override;

private:
  explicit TAlsaRawInPort(TMidiInCallback callback);
  void Run();
  bool ReadAvailable();

  snd_rawmidi_t* FIn = nullptr;
  std::atomic<TMidiResult> FFailure{MidiOk}; // why the reader stopped
  int FStopFd = -1;
  std::thread FReader;
};

} // namespace pelrow
