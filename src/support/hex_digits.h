// Hexadecimal digits as the program writes and reads them: upper case out, either
// case in.
#pragma once

#include <array>
#include <cstdint>
#include <string>

namespace pelrow {

inline constexpr char HexDigits[] = "0123456789ABCDEF";

// Two upper-case digits of a byte, written to out[0] and out[1].
inline void WriteHexByte(uint8_t byte, char* out) {
  out[0] = HexDigits[byte >> 4];
  out[1] = HexDigits[byte & 0x0F];
}

inline void AppendHexByte(uint8_t byte, std::string& text) {
  char digits[2];
  WriteHexByte(byte, digits);
  text.append(digits, 2);
}

// A byte as its two digits alone ("7F"), for messages.
inline std::string HexByteText(uint8_t byte) {
  std::string text;
  AppendHexByte(byte, text);
  return text;
}

// The value of one digit in either case; -1 for any other character.
constexpr int HexDigitValue(char c) {
  if (c >= '0' && c <= '9')
    return c - '0';
  if (c >= 'a' && c <= 'f')
    return c - 'a' + 10;
  if (c >= 'A' && c <= 'F')
    return c - 'A' + 10;
  return -1;
}

inline constexpr uint8_t NoHexDigit = 0xFF;

// The digit value of every character, upper and lower case alike; NoHexDigit for
// any other. Two values or'ed together are below 16 exactly when both are digits.
inline constexpr std::array<uint8_t, 256> HexDigitValues = [] {
  std::array<uint8_t, 256> table{};
  for (int c = 0; c < 256; ++c) {
    const int value = HexDigitValue(static_cast<char>(c));
    table[c] = value < 0 ? NoHexDigit : static_cast<uint8_t>(value);
  }
  return table;
}();

} // namespace pelrow
