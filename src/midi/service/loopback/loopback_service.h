// The built-in loopback MIDI backend. It is always listed, so a user with no MIDI
// hardware can try the program: what goes out on "Pelrow Loopback" comes back in on
// the input of that name. Its extra operations act like hardware: ports plugged in
// and out at run time, input sent by a device at a chosen pace, refused opens and
// sends. Like every backend it lists its ports as they were at the last count, so
// that an index stays the same port until the devices are counted again.
#pragma once

#include "midi/service/loopback/loopback_hub.h"
#include "midi/service/midi_service.h"

#include <memory>
#include <string>
#include <vector>

namespace pelrow {

class TLoopbackMidiService final : public TMidiService {
public:
  TLoopbackMidiService();

  std::string Name() const override;
  int InputCount() override;
  int OutputCount() override;
  TMidiResult InputName(int index, std::string& name) override;
  TMidiResult OutputName(int index, std::string& name) override;
  TMidiResult OpenInput(int index, TMidiInCallback callback,
                        std::unique_ptr<TMidiInPort>& port) override;
  TMidiResult OpenOutput(int index, TMidiOutCallback callback,
                         std::unique_ptr<TMidiOutPort>& port) override;
  void SetOnDevicesChanged(std::function<void()> handler) override;

  // Plugging ports in and out; position -1 appends.
  void AddInput(const std::string& name, int position = -1);
  void AddOutput(const std::string& name, int position = -1);
  bool RemoveInput(const std::string& name);
  bool RemoveOutput(const std::string& name);

  // Bytes arriving at an open input as a device sends them; bytesPerSecond 0 hands
  // them over at once, otherwise in pieces of at most 256 bytes at that rate (the
  // call returns when all are handed over). False when that input is not open.
  bool InjectInput(const std::string& name, const std::vector<uint8_t>& bytes,
                   uint32_t bytesPerSecond = 0);

  // Opens of that port fail with code until it is set back to MidiOk.
  void FailOpen(TLoopbackDirection direction, const std::string& name, TMidiResult code);
  // Sends on that output are refused with code until it is set back to MidiOk;
  // long buffers already queued then complete marked failed.
  void RefuseSends(const std::string& name, TMidiResult code);
  // While stalled, that output queues long buffers but completes none.
  void StallOutput(const std::string& name, bool stalled);

private:
  const std::vector<std::string>& Listed(TLoopbackDirection direction) const;
  TMidiResult NameAt(TLoopbackDirection direction, int index, std::string& name) const;

  const std::shared_ptr<TLoopbackHub> FHub;
  std::vector<std::string> FListed[2]; // per direction, the ports at the last count
};

} // namespace pelrow
