#include "support/clock.h"

#include <chrono>

namespace pelrow {

namespace {
class TSteadyClock final : public TClock {
public:
  uint32_t NowMs() override {
    using namespace std::chrono;
    return static_cast<uint32_t>(
        duration_cast<milliseconds>(steady_clock::now() - FStart).count());
  }

private:
  std::chrono::steady_clock::time_point FStart = std::chrono::steady_clock::now();
};
} // namespace

TClock& SteadyClock() {
  static TSteadyClock clock;
  return clock;
}

uint32_t TimeGetTime() { return SteadyClock().NowMs(); }

} // namespace pelrow
