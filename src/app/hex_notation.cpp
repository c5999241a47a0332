#include "app/hex_notation.h"

#include "support/hex_digits.h"

#include <array>
#include <cstring>

namespace pelrow {

const char* const DefaultOutBoxText = "// type here MIDI messages in hex\r\n"
                                      "// notation, or use the File menu\r\n"
                                      "// to open a .syx or .txt file.\r\n";

namespace {

constexpr const std::array<uint8_t, 256>& DigitValue = HexDigitValues;

constexpr int MinMsgBufSize = 10;

} // namespace

std::string UnexpectedCharactersText(int lineNumber, int position, std::string_view pair) {
  std::string text = "line " + std::to_string(lineNumber) + ":" + std::to_string(position) +
                     ": Unexpected characters: \"";
  text.append(pair);
  text += '"';
  return text;
}

bool ParseHexPair(std::string_view pair, uint8_t& value) {
  if (pair.size() < 2)
    return false;
  const uint8_t high = DigitValue[static_cast<unsigned char>(pair[0])];
  const uint8_t low = DigitValue[static_cast<unsigned char>(pair[1])];
  if (high == NoHexDigit || low == NoHexDigit)
    return false;
  value = static_cast<uint8_t>(high * 16 + low);
  return true;
}

void THexParser::EnsureMsgBuf(int size) {
  if (size < MinMsgBufSize)
    size = MinMsgBufSize;
  if (FMsgBuf && FMsgBufSize >= size)
    return;
  FMsgBuf.reset();
  FMsgBufSize = 0;
  FMsgBuf.reset(new uint8_t[static_cast<size_t>(size)]); // contents are not needed
  FMsgBufSize = size;
}

void THexParser::ReportUnexpected(int lineIndex, int position, std::string_view pair) {
  if (FShowStatus)
    FShowStatus(UnexpectedCharactersText(lineIndex + 1, position, pair), TStatusSide::Out,
                TStatusKind::Error, true);
}

bool THexParser::ParseLine(int lineIndex, std::string_view text, int& count) {
  count = 0;
  if (text.empty())
    return false;
  // Every byte takes two characters, so half the text plus a margin always fits.
  EnsureMsgBuf(static_cast<int>(text.size() / 2) + 5);
  std::memset(FMsgBuf.get(), 0, 4); // short-message packing reads bytes 0..3

  const auto* chars = reinterpret_cast<const unsigned char*>(text.data());
  const size_t length = text.size();
  uint8_t* out = FMsgBuf.get();
  size_t written = 0;
  // A byte begins only where two characters remain: the last one never starts a step.
  for (size_t i = 0; i + 1 < length;) {
    const unsigned char c = chars[i];
    if (c <= 32) {
      ++i;
      continue;
    }
    const uint8_t high = DigitValue[c];
    const uint8_t low = DigitValue[chars[i + 1]];
    if ((high | low) < 16) { // both are digits
      out[written++] = static_cast<uint8_t>(high * 16 + low);
      i += 2;
      continue;
    }
    if (c == ';' || c == '#' || (c == '/' && chars[i + 1] == '/'))
      break;
    // Reported at the 1-based position of the pair's second character; the scan
    // resumes there, so one stray character can give two reports.
    ReportUnexpected(lineIndex, static_cast<int>(i + 2), text.substr(i, 2));
    ++i;
  }
  count = static_cast<int>(written);
  return count > 0;
}

} // namespace pelrow
