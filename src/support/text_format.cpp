#include "support/text_format.h"

namespace pelrow {

std::string FormatTextFrom(std::string_view pattern, std::initializer_list<TFormatArg> args) {
  std::string text;
  text.reserve(pattern.size());
  auto arg = args.begin();
  for (std::size_t at = 0; at < pattern.size(); ++at) {
    const char next = at + 1 < pattern.size() ? pattern[at + 1] : '\0';
    if (pattern[at] != '%') {
      text += pattern[at];
    } else if (next == '%') {
      text += '%';
      ++at;
    } else if ((next == 's' || next == 'd') && arg != args.end()) {
      text += (arg++)->Text();
      ++at;
    } else {
      text += '%';
    }
  }
  return text;
}

} // namespace pelrow
