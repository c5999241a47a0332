// Feeds arbitrary text to the Out box parser and checks that whatever it accepts
// formats back into the same bytes.
#include "app/hex_notation.h"
#include "app/line_formatter.h"

#include <cstdlib>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace pelrow;
  int reports = 0;
  THexParser parser([&](auto&&...) { ++reports; });
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  int count = 0;
  const bool found = parser.ParseLine(static_cast<int>(size % 50), text, count);
  const bool bufferTooSmall = size > 0 && parser.MsgBufSize() < static_cast<int>(size / 2) + 5;
  if (found != (count > 0) || count > static_cast<int>(size / 2) || bufferTooSmall)
    std::abort();
  if (count == 0)
    return 0;
  const std::vector<uint8_t> bytes(parser.MsgBuf(), parser.MsgBuf() + count);
  std::vector<uint8_t> again;
  AddLongMessageLines(bytes.data(), count, static_cast<int>(size % 7) - 1,
                      [&](std::string_view line) {
                        int n = 0;
                        if (!parser.ParseLine(0, line, n))
                          std::abort();
                        again.insert(again.end(), parser.MsgBuf(), parser.MsgBuf() + n);
                      },
                      {});
  if (again != bytes)
    std::abort();
  return 0;
}
