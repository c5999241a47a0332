// Names for what the first bytes of a System Exclusive message say: the maker of
// the device (a one-byte ID, or 00 and two more bytes), and for the universal
// messages (7E non-real-time, 7F real-time) what kind of message it is. Only the
// makers a user is likely to meet are named; any other ID is shown as its bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

namespace pelrow {

inline constexpr uint8_t UniversalNonRealTimeId = 0x7E;
inline constexpr uint8_t UniversalRealTimeId = 0x7F;
inline constexpr uint8_t RolandId = 0x41;
inline constexpr uint8_t YamahaId = 0x43;

// The manufacturer ID at the start of the bytes after F0: one byte, or three when
// the first is 00. Size 0 when the bytes are too short or hold a status byte.
struct TManufacturerId {
  uint32_t Value = 0; // 0x41, or 0x002029 for 00 20 29
  int Size = 0;
};
TManufacturerId ManufacturerIdOf(std::span<const uint8_t> afterF0);

// "Roland", "Universal Non-Real-Time"; empty for an ID without a name.
std::string ManufacturerName(TManufacturerId id);
// The ID as its bytes: "41", "00 20 29".
std::string ManufacturerIdText(TManufacturerId id);

// What a universal message is, from its two sub-IDs: "General Information:
// Identity Reply", "MIDI Time Code"; empty when the first sub-ID has no name.
std::string UniversalMessageName(uint8_t universalId, uint8_t subId1, uint8_t subId2);

} // namespace pelrow
