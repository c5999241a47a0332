// Shared set-up of the tests against the kernel's ALSA sequencer (they run in the
// guest of scripts/alsa-vm, and skip where there is no /dev/snd/seq): a virtual raw
// MIDI port stands in for a MIDI cable, its raw device carrying exactly the bytes a
// synthesizer would get or send; a plain sequencer client plays another program.
#pragma once

#include "midi/service/midi_service.h"
#include "support/midi_collectors.h"

#include <alsa/asoundlib.h>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <string>
#include <vector>

namespace pelrow::testing {

// The raw device of virtual raw MIDI port `device` ("hw:CARD,DEVICE"), open both
// ways. Reading starts at once, into a buffer of a megabyte, so nothing the
// sequencer passes on is dropped while a test is busy elsewhere.
class TRawMidi {
public:
  explicit TRawMidi(int device);
  // Device `device` of the card whose name contains cardName.
  TRawMidi(const std::string& cardName, int device);
  ~TRawMidi();
  TRawMidi(const TRawMidi&) = delete;
  TRawMidi& operator=(const TRawMidi&) = delete;

  bool Ready() const { return FIn != nullptr && FOut != nullptr; }
  // The sequencer port that belongs to this device.
  std::string PortName() const;
  // Writes as fast as the reader of the device's port takes the bytes, never
  // more than its queue in the sequencer holds; false when it stopped taking them.
  bool Write(const std::vector<uint8_t>& bytes);
  // Writes no faster than a MIDI cable carries the bytes (3125 a second).
  bool WriteAtCablePace(const std::vector<uint8_t>& bytes);
  // Writes what the device takes within timeoutMs, however full the reader's
  // queue (the sequencer drops what does not fit); answers how much that was.
  size_t WriteFor(const std::vector<uint8_t>& bytes, int timeoutMs);
  // What arrives until count bytes came or timeoutMs passed.
  std::vector<uint8_t> Read(size_t count, int timeoutMs);
  // What arrives until nothing more came for quietMs.
  std::vector<uint8_t> ReadUntilQuiet(int quietMs);
  // When the first and the last byte of the last Read arrived.
  std::chrono::steady_clock::time_point FirstArrival() const { return FFirst; }
  std::chrono::steady_clock::time_point LastArrival() const { return FLast; }
  size_t FirstReadBytes() const { return FFirstBytes; }
  // Waits until a sequencer client reads from this device's port (a program opened
  // it as its input); false after timeoutMs.
  bool WaitForReader(int timeoutMs) const;
  // The sequencer client that reads from this device's port, or -1.
  int ReaderClient(snd_seq_t* seq) const;

private:
  size_t ReadSome(std::vector<uint8_t>& bytes, int waitMs);
  size_t WriteSome(const std::vector<uint8_t>& bytes, int timeoutMs);
  // Writes all of bytes; a USB gadget's device is waited for until it took them.
  bool WriteWhole(const std::vector<uint8_t>& bytes);

  int FCard = -1;
  int FDevice;
  bool FDrainEachPiece;
  snd_rawmidi_t* FIn = nullptr;
  snd_rawmidi_t* FOut = nullptr;
  std::chrono::steady_clock::time_point FFirst, FLast;
  size_t FFirstBytes = 0;
};

// A plain sequencer client (another program) with one port that sends and records.
class TAlsaPeer {
public:
  explicit TAlsaPeer(const std::string& clientName);
  ~TAlsaPeer();
  TAlsaPeer(const TAlsaPeer&) = delete;
  TAlsaPeer& operator=(const TAlsaPeer&) = delete;

  bool Ready() const { return FSeq != nullptr && FPort >= 0 && FCodec != nullptr; }
  std::string PortName() const { return FName + ":port"; }
  // Sends a byte stream to its subscribers as the kernel passes on raw MIDI.
  void Send(const std::vector<uint8_t>& bytes);
  // What arrives until count bytes came or timeoutMs passed.
  std::vector<uint8_t> Receive(size_t count, int timeoutMs);

private:
  std::string FName;
  snd_seq_t* FSeq = nullptr;
  snd_midi_event_t* FCodec = nullptr;
  int FPort = -1;
};

// Skips the running test where this machine has no kernel sequencer, or fails it
// when PELROW_REQUIRE_ALSA is set (as in the guest of scripts/alsa-vm); a caller
// in SetUp returns when the test is skipped or failed.
void RequireSequencer();

// The number of the sound card whose name contains cardName, or -1.
int CardNamed(const std::string& cardName);

class AlsaTest : public ::testing::Test {
protected:
  static constexpr int WaitMs = 10000;
  static constexpr int BurstWaitMs = 120000;

  void SetUp() override;
  // Index of the named device once it is listed; -1 after WaitMs.
  int WaitForInput(const std::string& name);
  int WaitForOutput(const std::string& name);
  bool WaitUntilGone(const std::string& name, bool input);

  std::unique_ptr<TMidiService> FService;
  std::atomic<int> FNotices{0};
};

// An input of ours on virtual raw MIDI port 1, started; bytes go in at its raw device.
class AlsaInputTest : public AlsaTest {
protected:
  void SetUp() override;
  void TearDown() override;

  std::unique_ptr<TRawMidi> FRaw;
  TInputCollector FCollector;
  std::unique_ptr<TMidiInPort> FPort;
};

// An output of ours on virtual raw MIDI port 0; what it sends comes out of the raw device.
class AlsaOutputTest : public AlsaTest {
protected:
  void SetUp() override;
  void TearDown() override;

  std::unique_ptr<TRawMidi> FRaw;
  TOutputSender FSender;
  std::unique_ptr<TMidiOutPort> FPort;
};

} // namespace pelrow::testing
