#include "app/printf_text.h"

#include <cstdarg>
#include <cstdio>

namespace pelrow {

std::string PrintfText(const char* pattern, ...) {
  va_list args;
  va_start(args, pattern);
  va_list again;
  va_copy(again, args);
  const int length = std::vsnprintf(nullptr, 0, pattern, args);
  va_end(args);
  std::string text;
  if (length > 0) {
    // vsnprintf writes the closing NUL too; std::string keeps room for it.
    text.resize(static_cast<std::size_t>(length));
    std::vsnprintf(text.data(), text.size() + 1, pattern, again);
  }
  va_end(again);
  return text;
}

} // namespace pelrow
