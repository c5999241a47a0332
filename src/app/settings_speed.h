// The Settings dialog's plain rules: how the speed bar's positions stand for send
// speeds and how a position is described, and which font size the size list
// selects for the boxes' current font.
#pragma once

#include <array>
#include <string>

namespace pelrow {

// The speed bar runs from -8 (very slow) to 8 (no pacing).
constexpr int SpeedBarMax = 8;
constexpr int SpeedBarMin = -SpeedBarMax;

// The speed the Default button puts the bar on.
constexpr int SpeedDefault = -500;

// Bar position for a speed setting, truncated toward zero, kept on the bar.
int SpeedToPosition(int speed);
// Speed setting for a bar position: a multiple of 125 from -1000 to 1000.
int PositionToSpeed(int position);

// The text under the bar for a position, e.g. "Speed: 3125 bytes/s = 3.05 KB/s (1.0x)".
std::string SpeedLabelText(int position);

// The sizes the font-size list offers, in this order.
constexpr std::array<int, 10> FontSizes{6, 7, 8, 9, 10, 11, 12, 14, 16, 20};

// Index in FontSizes that the size list selects for a font of pointSize: the first
// size at least as large, or the largest when none is.
int FontSizeIndex(int pointSize);

} // namespace pelrow
