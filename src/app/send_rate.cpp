#include "app/send_rate.h"

#include <climits>
#include <cmath>
#include <cstdio>

namespace pelrow {

namespace {
constexpr const char* TextRate = "%d bytes/s = %.2f KB/s";
constexpr uint32_t RateWindowMs = 800;
} // namespace

double SendSpeedFactor(int speed) {
  return std::exp(speed * -2.3 / 1000.0);
}

double KBytesPerSecond(int64_t elapsedMs, double bytes) {
  if (elapsedMs <= 0)
    return 0.0;
  return bytes / 1024.0 / (static_cast<double>(elapsedMs) / 1000.0);
}

std::string FormatRate(double kbps) {
  // nearbyint rounds in the current mode, which is half to even unless changed.
  double bytesPerSecond = std::nearbyint(kbps * 1024.0);
  if (std::isnan(bytesPerSecond))
    bytesPerSecond = 0;
  bytesPerSecond = std::fmax(INT_MIN, std::fmin(INT_MAX, bytesPerSecond));
  char text[96];
  std::snprintf(text, sizeof text, TextRate, static_cast<int>(bytesPerSecond), kbps);
  return text;
}

void UpdateRate(uint32_t now, uint32_t& rateTime, int64_t& rateBytes, double& rate,
                int64_t totalBytes) {
  const uint32_t elapsed = now - rateTime;
  if (elapsed <= RateWindowMs)
    return;
  rate = KBytesPerSecond(elapsed, static_cast<double>(totalBytes - rateBytes));
  rateTime = now;
  rateBytes = totalBytes;
}

} // namespace pelrow
