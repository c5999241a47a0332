#include "app/sysex_checks.h"

#include "support/hex_digits.h"
#include "support/text_format.h"

namespace pelrow {

namespace {

constexpr char ChecksumErrorText[] = "checksum %s, should be %s";
constexpr char ByteCountErrorText[] = "the byte count says %d data bytes, the message holds %d";
constexpr char FromText[] = "%s from %s";
constexpr char RolandDataSet[] = "DT1";
constexpr char RolandRequest[] = "RQ1";
constexpr char YamahaBulkDump[] = "Bulk Dump";

constexpr uint8_t RolandRequestCommand = 0x11;
constexpr uint8_t RolandDataSetCommand = 0x12;
// Yamaha: F0 43 0n ff hh ll, with n the device and ff the format; a sub-status of
// 0 in the high nibble of the second byte is a bulk dump.
constexpr size_t YamahaHeaderSize = 5;
// Newer Yamaha dumps put a three-byte address after the count, and their checksum
// covers count, address and data.
constexpr size_t YamahaAddressSize = 3;

unsigned Sum(std::span<const uint8_t> bytes) {
  unsigned sum = 0;
  for (const uint8_t b : bytes)
    sum += b;
  return sum;
}

// The bytes checked end with their checksum; empty when they add up to 0 mod 128.
std::string ChecksumProblem(std::span<const uint8_t> checkedWithSum) {
  if (Sum(checkedWithSum) % 128 == 0)
    return "";
  const uint8_t given = checkedWithSum.back();
  const auto expected = static_cast<uint8_t>(
      (128 - Sum(checkedWithSum.first(checkedWithSum.size() - 1)) % 128) % 128);
  return FormatText(ChecksumErrorText, HexByteText(given), HexByteText(expected));
}

// Roland: 41, device, the model ID (00 bytes, then one more), the command, and
// for a data set or a request the address and data (or size) and the checksum.
void CheckRoland(std::span<const uint8_t> p, bool complete, TSysExDescription& d) {
  size_t at = 2;
  while (at < p.size() && p[at] == 0)
    ++at;
  const size_t command = at + 1;
  if (command >= p.size() ||
      (p[command] != RolandDataSetCommand && p[command] != RolandRequestCommand))
    return;
  d.Detail = p[command] == RolandDataSetCommand ? RolandDataSet : RolandRequest;
  const std::span<const uint8_t> checked = p.subspan(command + 1);
  if (complete && checked.size() >= 2)
    d.ChecksumError = ChecksumProblem(checked);
}

void CheckYamaha(std::span<const uint8_t> p, bool complete, TSysExDescription& d) {
  if (p.size() < 2 || (p[1] & 0xF0) != 0)
    return;
  d.Detail = YamahaBulkDump;
  if (!complete || p.size() < YamahaHeaderSize + 1)
    return;
  const size_t count = size_t{p[3]} << 7 | p[4];
  const size_t holds = p.size() - YamahaHeaderSize - 1;
  if (holds == count)
    d.ChecksumError = ChecksumProblem(p.subspan(YamahaHeaderSize));
  else if (holds == count + YamahaAddressSize)
    d.ChecksumError = ChecksumProblem(p.subspan(3));
  else
    d.ByteCountError =
        FormatText(ByteCountErrorText, static_cast<int>(count), static_cast<int>(holds));
}

// 7E/7F, device, sub-ID 1, sub-ID 2; an identity reply goes on with the maker of
// the device that answers.
void DescribeUniversal(std::span<const uint8_t> p, TSysExDescription& d) {
  if (p.size() < 3)
    return;
  d.Detail = UniversalMessageName(p[0], p[2], p.size() > 3 ? p[3] : 0xFF);
  if (p[0] == UniversalNonRealTimeId && p[2] == 0x06 && p.size() > 4 && p[3] == 0x02) {
    const std::string maker = ManufacturerName(ManufacturerIdOf(p.subspan(4)));
    if (!maker.empty())
      d.Detail = FormatText(FromText, d.Detail, maker);
  }
}

} // namespace

TSysExDescription DescribeSysEx(std::span<const uint8_t> payload, bool complete) {
  TSysExDescription d;
  d.Manufacturer = ManufacturerIdOf(payload);
  if (d.Manufacturer.Size == 0)
    return d;
  d.ManufacturerName = ManufacturerName(d.Manufacturer);
  const size_t deviceAt = static_cast<size_t>(d.Manufacturer.Size);
  if (deviceAt < payload.size() && payload[deviceAt] < 0x80)
    d.DeviceId = payload[deviceAt];
  if (d.Manufacturer.Size != 1)
    return d;
  switch (d.Manufacturer.Value) {
  case UniversalNonRealTimeId:
  case UniversalRealTimeId:
    DescribeUniversal(payload, d);
    break;
  case RolandId:
    CheckRoland(payload, complete, d);
    break;
  case YamahaId:
    if (d.DeviceId >= 0)
      d.DeviceId &= 0x0F; // the high nibble is the sub-status
    CheckYamaha(payload, complete, d);
    break;
  default:
    break;
  }
  return d;
}

} // namespace pelrow
