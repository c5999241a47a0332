#include "support/file_name_text.h"

#include <cstdint>
#include <optional>

namespace pelrow {

namespace {

constexpr char kUnshownCharacter = '?';

// Decodes one UTF-8 sequence at text[at], advancing at; nothing when the bytes
// there are not well-formed UTF-8 (overlong forms and surrogates included).
std::optional<uint32_t> NextCodePoint(std::string_view text, std::size_t& at) {
  const auto lead = static_cast<uint8_t>(text[at]);
  int length = 0;
  uint32_t code = 0;
  uint32_t smallest = 0;
  if (lead < 0x80) {
    ++at;
    return lead;
  } else if ((lead & 0xE0) == 0xC0) {
    length = 2, code = lead & 0x1F, smallest = 0x80;
  } else if ((lead & 0xF0) == 0xE0) {
    length = 3, code = lead & 0x0F, smallest = 0x800;
  } else if ((lead & 0xF8) == 0xF0) {
    length = 4, code = lead & 0x07, smallest = 0x10000;
  } else {
    return std::nullopt;
  }
  if (text.size() - at < static_cast<std::size_t>(length))
    return std::nullopt;
  for (int k = 1; k < length; ++k) {
    const auto next = static_cast<uint8_t>(text[at + k]);
    if ((next & 0xC0) != 0x80)
      return std::nullopt;
    code = code << 6 | (next & 0x3F);
  }
  if (code < smallest || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF))
    return std::nullopt;
  at += length;
  return code;
}

} // namespace

std::string FileNameText(std::string_view fileName) {
  std::string text;
  text.reserve(fileName.size());
  for (std::size_t at = 0; at < fileName.size();) {
    const std::optional<uint32_t> code = NextCodePoint(fileName, at);
    if (!code)
      return std::string(fileName);
    text += *code <= 0xFF ? static_cast<char>(*code) : kUnshownCharacter;
  }
  return text;
}

} // namespace pelrow
