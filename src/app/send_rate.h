// Speed and transfer-rate helpers shared by sending and receiving: the pace that a
// speed setting stands for, and the rates shown while data goes out or comes in.
#pragma once

#include <cstdint>
#include <string>

namespace pelrow {

// Lowest and highest speed setting; exactly SendSpeedUnpaced sends without pacing.
constexpr int SendSpeedMin = -1000;
constexpr int SendSpeedMax = 1000;
constexpr int SendSpeedUnpaced = 1000;

// Milliseconds per byte at speed 0: the MIDI wire rate of 31250 bit/s at ten bits
// per byte.
constexpr double WireMsPerByte = 0.32;

// e^(speed * -2.3 / 1000): 1.0 at 0, about 9.974 at -1000, about 0.1003 at 1000.
double SendSpeedFactor(int speed);

// Kilobytes per second for bytes in elapsedMs; 0 when no time has passed.
double KBytesPerSecond(int64_t elapsedMs, double bytes);

// "%d bytes/s = %.2f KB/s", bytes per second rounded half to even.
std::string FormatRate(double kbps);

// A sliding rate window: recomputed only when more than 800 ms have passed since
// the last measurement, so a rate shown on screen does not flicker.
void UpdateRate(uint32_t now, uint32_t& rateTime, int64_t& rateBytes, double& rate,
                int64_t totalBytes);

} // namespace pelrow
