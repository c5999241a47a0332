#include "app/settings_speed.h"

#include "app/send_rate.h"

#include <algorithm>
#include <cstdio>

namespace pelrow {

namespace {
constexpr const char* TextSpeedPrefix = "Speed: ";
constexpr const char* TextNoThrottling = "as fast as possible (no throttling)";
constexpr const char* TextFasterFactor = " (%.1fx)";
constexpr const char* TextSlowerFactor = " (1/%.1fx)";

// The nominal rate at speed 0 is the MIDI wire rate: 31250 bit/s, ten bits a byte.
constexpr double BytesPerMsAtWireRate = 31250.0 / 10 / 1000;
} // namespace

int SpeedToPosition(int speed) {
  return std::clamp(speed * SpeedBarMax / SendSpeedMax, SpeedBarMin, SpeedBarMax);
}

int PositionToSpeed(int position) {
  return position * SendSpeedMax / SpeedBarMax;
}

std::string SpeedLabelText(int position) {
  const int speed = PositionToSpeed(position);
  if (speed == SendSpeedUnpaced)
    return std::string(TextSpeedPrefix) + TextNoThrottling;
  // A higher setting paces faster: the factor is the inverse of the pacing factor.
  const double factor = SendSpeedFactor(-speed);
  // Bytes sent in one millisecond, as a rate over one millisecond.
  std::string text = FormatRate(KBytesPerSecond(1, factor * BytesPerMsAtWireRate));
  char factorText[48];
  if (factor >= 1.0)
    std::snprintf(factorText, sizeof factorText, TextFasterFactor, factor);
  else
    std::snprintf(factorText, sizeof factorText, TextSlowerFactor, SendSpeedFactor(speed));
  return TextSpeedPrefix + text + factorText;
}

int FontSizeIndex(int pointSize) {
  const auto first = std::find_if(FontSizes.begin(), FontSizes.end(),
                                  [pointSize](int size) { return size >= pointSize; });
  if (first == FontSizes.end())
    return static_cast<int>(FontSizes.size()) - 1;
  return static_cast<int>(first - FontSizes.begin());
}

} // namespace pelrow
