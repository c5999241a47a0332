// The hexadecimal notation of the Out box: one line of text becomes the bytes it
// names. Two-digit hex bytes in either case, separators of code 0..32, comments
// from ";", "#" or "//". Anything else is reported and skipped; the bytes around
// it are still used.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "app/status_report.h"

namespace pelrow {

// "line %d:%d: Unexpected characters: "%s""
std::string UnexpectedCharactersText(int lineNumber, int position, std::string_view pair);

// The three comment lines placed in an empty Out box at start-up.
extern const char* const DefaultOutBoxText;

// Two characters to one byte; `value` is left alone when either is no hex digit.
bool ParseHexPair(std::string_view pair, uint8_t& value);

// The parser and its message buffer. The buffer holds the bytes of the line parsed
// last; each parse overwrites it, so callers use the bytes before the next parse.
class THexParser {
public:
  explicit THexParser(TShowStatus showStatus = {}) : FShowStatus(std::move(showStatus)) {}

  // `text` is already trimmed of characters 0..32 at both ends; `lineIndex` is the
  // zero-based line number used in reports. True when at least one byte was found.
  bool ParseLine(int lineIndex, std::string_view text, int& count);

  // Grows the buffer to at least `size` bytes (never below 10); contents are not kept.
  void EnsureMsgBuf(int size);

  const uint8_t* MsgBuf() const { return FMsgBuf.get(); }
  int MsgBufSize() const { return FMsgBufSize; }

  // Where reports of unexpected characters go (the main window's ShowStatus).
  void SetShowStatus(TShowStatus showStatus) { FShowStatus = std::move(showStatus); }

private:
  void ReportUnexpected(int lineIndex, int position, std::string_view pair);

  std::unique_ptr<uint8_t[]> FMsgBuf;
  int FMsgBufSize = 0;
  TShowStatus FShowStatus;
};

} // namespace pelrow
