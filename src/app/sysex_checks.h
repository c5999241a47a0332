// What a System Exclusive message says about itself: who made the device it is
// for, the device ID, what kind of message it is, and whether its own checks hold
// for the two schemes most dumps use: Roland's data set (command 12) and request
// (11), whose address, data and checksum add up to 0 modulo 128, and Yamaha's bulk
// dump, whose byte count gives the data length and whose data and checksum add up
// to 0 modulo 128.
#pragma once

#include "app/sysex_names.h"

#include <cstdint>
#include <span>
#include <string>

namespace pelrow {

struct TSysExDescription {
  TManufacturerId Manufacturer;
  std::string ManufacturerName; // empty when the ID has no name
  int DeviceId = -1;            // -1 when the message holds none
  std::string Detail;           // "DT1", "Bulk Dump", "General Information: Identity Reply"
  std::string ChecksumError;    // "checksum 05, should be 12"; empty when none
  std::string ByteCountError;   // empty when none
};

// payload: the bytes between F0 and F7 (real-time bytes taken out). The checks run
// only on a complete message; a cut one has lost its checksum anyway.
TSysExDescription DescribeSysEx(std::span<const uint8_t> payload, bool complete);

} // namespace pelrow
