#include "support/trace.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>

namespace pelrow {

bool TraceEnabled() {
  static const bool enabled = [] {
    const char* value = std::getenv("PELROW_TRACE");
    return value != nullptr && std::strcmp(value, "1") == 0;
  }();
  return enabled;
}

void Trace(const std::string& line) {
  if (!TraceEnabled())
    return;
  // Traces come from the UI thread and from MIDI service threads alike.
  static std::mutex mutex;
  std::lock_guard<std::mutex> guard(mutex);
  std::fprintf(stderr, "pelrow: %s\n", line.c_str());
}

} // namespace pelrow
