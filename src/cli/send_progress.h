// The progress of a send as one line on a terminal: bytes, percent, rate and the
// time left, redrawn in place a few times a second and removed at the end.
#pragma once

#include "support/clock.h"

#include <cstdint>
#include <cstdio>
#include <string>

namespace pelrow::cli {

// "Sending 1024 of 20480 bytes (5%) at 3125 bytes/s = 3.05 KB/s, 0:06 left"; rate
// and time left appear once a rate has been measured (kbps > 0).
std::string SendProgressText(int64_t sent, int64_t total, double kbps);

// Seconds as "m:ss", or "h:mm:ss" from an hour on.
std::string DurationText(int64_t seconds);

class TSendProgress {
public:
  // Draws nothing unless enabled (standard error is a terminal).
  TSendProgress(std::FILE* stream, bool enabled, int64_t total, TClock& clock);

  void Update(int64_t sent);
  // Removes the line.
  void Finish();

private:
  std::FILE* FStream;
  bool FEnabled;
  int64_t FTotal;
  TClock& FClock;
  bool FShown = false;
  uint32_t FDrawnTime;
  uint32_t FRateTime;
  int64_t FRateBytes = 0;
  double FRate = 0.0;
};

} // namespace pelrow::cli
