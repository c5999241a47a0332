// The ALSA sequencer under the ALSA backend: two sequencer handles of ours (one
// read by the reader thread, one written by the output writers, each behind its
// own lock, since alsa-lib does not share a handle between threads), their buffer
// and pool sizes, and the reader thread that routes incoming events to the open
// inputs and System Announce events to the device observer.
#pragma once

#include "midi/service/midi_service.h"

#include <alsa/asoundlib.h>

#include <atomic>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

namespace pelrow {

class TMidiInputStream;

// A sequencer port address.
struct TAlsaAddress {
  int Client = -1;
  int Port = -1;
};

// Where an open output's events go. The writer thread reads it for every piece; the
// reader thread moves it when the far end comes back at a new address.
class TAlsaOutLink {
public:
  explicit TAlsaOutLink(TAlsaAddress address) { Set(address); }
  TAlsaAddress Get() const {
    const uint32_t packed = FPacked.load();
    return {int(packed >> 16), int(packed & 0xFFFF)};
  }
  void Set(TAlsaAddress address) {
    FPacked = uint32_t(address.Client) << 16 | uint32_t(address.Port & 0xFFFF);
  }

private:
  std::atomic<uint32_t> FPacked;
};

// The result of a failed open (a negative ALSA error) in the service's terms: a
// port in use says so, one that refuses us says so, one that went away since the
// count is no longer connected, and anything else keeps ALSA's own words through a
// backend code that AlsaErrorText explains.
TMidiResult AlsaOpenResult(int error);
// The result with which the inputs of a reader thread fail when it can wait for
// input no more (poll failed with errno error).
TMidiResult AlsaReaderFailure(int error);
bool AlsaErrorText(TMidiResult code, std::string& text);

class TAlsaSequencer {
public:

  // Null with a reason when there is no sequencer. announce runs on the reader
  // thread for every client or port that starts, ends or changes.
  static std::unique_ptr<TAlsaSequencer> Open(std::function<void()> announce, std::string& failure);
  ~TAlsaSequencer();
  TAlsaSequencer(const TAlsaSequencer&) = delete;
  TAlsaSequencer& operator=(const TAlsaSequencer&) = delete;

  bool IsOwnClient(int client) const;

  // Input side: a port of ours subscribed to source (listed as sourceName), its
  // events fed to stream. Returns our port number, or a negative ALSA error. When
  // the source's subscription ends, the stream hears of it; when its port went away
  // and a port of that name starts again, ours is subscribed to it again. watch,
  // when given, is called on the reader thread (with the time) once input came, at
  // most every WatchMs while it comes and once more after, so that what it looks
  // at is fed near its place in the stream; it must not open or close inputs.
  static constexpr uint32_t WatchMs = 100;
  int OpenInput(const std::string& sourceName, const TAlsaAddress& source, TMidiInputStream& stream,
                std::function<void(uint32_t nowMs)> watch = {});
  void CloseInput(int port);
  // Why the reader thread stopped (then no input comes any more); MidiOk while it runs.
  TMidiResult ReaderFailure() const { return FReaderFailure; }

  // Output side: a port of ours subscribed to link's address (listed as
  // destinationName), which follows the port of that name when it comes back.
  int OpenOutput(const std::string& destinationName, TAlsaOutLink& link);
  void CloseOutput(int port);
  // Sends one event at once; the sequencer's result (negative: an ALSA error).
  int SendDirect(snd_seq_event_t& event);

  // Runs f with the output handle (the one used for enumeration) locked.
  template <typename F> auto WithOutputHandle(F f) {
    std::lock_guard lock(FOutLock);
    return f(FOut);
  }

private:
  TAlsaSequencer() = default;
  void ReaderLoop();
  void Dispatch(const snd_seq_event_t& event);
  void ReportLost();
  void FailInputs(int error);
  int RunWatches();
  void FollowFarEnds(const snd_seq_event_t& event);
  void FarEndGone(const snd_seq_addr_t& address);
  void FarEndsReturned(int client);

  struct TInput {
    TMidiInputStream* Stream;
    std::string Source;
    TAlsaAddress Address;
    bool Connected = true;
    bool Gone = false;
    std::function<void(uint32_t)> Watch;
    bool WatchDue = false; // input came since the last call
    uint32_t WatchedMs = 0;
  };
  struct TOutput {
    TAlsaOutLink* Link;
    std::string Destination;
    bool Gone = false;
  };

  snd_seq_t* FIn = nullptr;
  snd_seq_t* FOut = nullptr;
  int FInClient = -1;
  int FOutClient = -1;
  int FAnnouncePort = -1;
  std::function<void()> FAnnounce;
  int FStopFd = -1;
  std::atomic<TMidiResult> FReaderFailure{MidiOk};
  std::mutex FInLock;  // FIn, FInputs, FOutputs, FDecoder; taken before FOutLock
  std::mutex FOutLock; // FOut
  std::map<int, TInput> FInputs;
  std::map<int, TOutput> FOutputs;
  snd_midi_event_t* FDecoder = nullptr;
  std::thread FReader;
};

} // namespace pelrow
