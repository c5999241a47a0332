// A MIDI service seen through a counter of lost input: every call goes to the
// service underneath, and each input's overflow notices are added up on the way,
// with the byte counts the backend gives them; an input that fails for good is
// noted too. The device layer reports a loss only as a flag; pelrow-cli owes its
// user the number of bytes.
#pragma once

#include "midi/service/midi_service.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

namespace pelrow::cli {

class TLossCountingService final : public TMidiService {
public:
  explicit TLossCountingService(TMidiService& service) : FService(service) {}

  // Overflow notices of every input opened through this service, and the bytes
  // they counted (a backend that does not know how many gives 0).
  uint64_t LossNotices() const { return FLossNotices.load(); }
  uint64_t LostBytes() const { return FLostBytes.load(); }
  // Why an input opened through this service failed for good (its MIDI system
  // went away); MidiOk while none did.
  TMidiResult InputFailure() const { return FInputFailure.load(); }

  std::string Name() const override { return FService.Name(); }
  int InputCount() override { return FService.InputCount(); }
  int OutputCount() override { return FService.OutputCount(); }
  TMidiResult InputName(int index, std::string& name) override {
    return FService.InputName(index, name);
  }
  TMidiResult OutputName(int index, std::string& name) override {
    return FService.OutputName(index, name);
  }
  TMidiResult OpenInput(int index, TMidiInCallback callback,
                        std::unique_ptr<TMidiInPort>& port) override;
  TMidiResult OpenOutput(int index, TMidiOutCallback callback,
                         std::unique_ptr<TMidiOutPort>& port) override {
    return FService.OpenOutput(index, std::move(callback), port);
  }
  TMidiResult InErrorText(TMidiResult code, std::string& text) const override {
    return FService.InErrorText(code, text);
  }
  TMidiResult OutErrorText(TMidiResult code, std::string& text) const override {
    return FService.OutErrorText(code, text);
  }
  void SetOnDevicesChanged(std::function<void()> handler) override {
    FService.SetOnDevicesChanged(std::move(handler));
  }

private:
  TMidiService& FService;
  std::atomic<uint64_t> FLossNotices{0};
  std::atomic<uint64_t> FLostBytes{0};
  std::atomic<TMidiResult> FInputFailure{MidiOk};
};

} // namespace pelrow::cli
