// The progress of a send, receive or request as one line on a terminal, redrawn in
// place a few times a second with the rate measured so far, and removed at the end.
#pragma once

#include "support/clock.h"

#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>

namespace pelrow::cli {

// "Sending 1024 of 20480 bytes (5%) at 3125 bytes/s = 3.05 KB/s, 0:06 left"; rate
// and time left appear once a rate has been measured (kbps > 0).
std::string SendProgressText(int64_t sent, int64_t total, double kbps);
// "Received 1024 bytes, 3 messages at 3125 bytes/s = 3.05 KB/s".
std::string CaptureProgressText(int64_t bytes, int messages, double kbps);

// Seconds as "m:ss", or "h:mm:ss" from an hour on.
std::string DurationText(int64_t seconds);

class TProgressLine {
public:
  // The line for the bytes so far at a rate (0 before one is measured).
  using TText = std::function<std::string(double kbps)>;

  // Draws nothing unless enabled (standard error is a terminal).
  TProgressLine(std::FILE* stream, bool enabled, TClock& clock);

  void Update(int64_t bytes, const TText& text);
  // Removes the line.
  void Finish();

private:
  std::FILE* FStream;
  bool FEnabled;
  TClock& FClock;
  bool FShown = false;
  uint32_t FDrawnTime;
  uint32_t FRateTime;
  int64_t FRateBytes = 0;
  double FRate = 0.0;
};

} // namespace pelrow::cli
