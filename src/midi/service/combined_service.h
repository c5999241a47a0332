// Several MIDI backends shown as one: the devices of the first come first, then
// those of the next, per direction. The program lists the loopback ports after the
// chosen platform backend's devices this way. Each backend is counted only when
// the devices are counted, so an index names and opens the same port for every
// call until the next count, however the backends' lists change meanwhile.
#pragma once

#include "midi/service/midi_service.h"

#include <memory>
#include <string>
#include <vector>

namespace pelrow {

class TCombinedMidiService final : public TMidiService {
public:
  explicit TCombinedMidiService(std::vector<std::unique_ptr<TMidiService>> parts);

  std::string Name() const override;
  int InputCount() override;
  int OutputCount() override;
  TMidiResult InputName(int index, std::string& name) override;
  TMidiResult OutputName(int index, std::string& name) override;
  std::string InputAddress(int index) override;
  std::string OutputAddress(int index) override;
  TMidiResult OpenInput(int index, TMidiInCallback callback,
                        std::unique_ptr<TMidiInPort>& port) override;
  TMidiResult OpenOutput(int index, TMidiOutCallback callback,
                         std::unique_ptr<TMidiOutPort>& port) override;
  TMidiResult InErrorText(TMidiResult code, std::string& text) const override;
  TMidiResult OutErrorText(TMidiResult code, std::string& text) const override;
  // The first failure of a part.
  TMidiResult Failure() const override;
  void SetOnDevicesChanged(std::function<void()> handler) override;

private:
  enum class TDirection { Input, Output };
  int Count(TDirection direction);
  // The part that holds a combined index, and the index within that part, by the
  // last count.
  TMidiService* Locate(TDirection direction, int& index);

  std::vector<std::unique_ptr<TMidiService>> FParts;
  // Per direction, each part's device count at the last count; empty before it.
  std::vector<int> FCounts[2];
};

} // namespace pelrow
