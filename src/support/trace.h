// Diagnostic trace lines for developers (device opening, list refreshes, buffer
// overflows). They go to stderr when PELROW_TRACE=1 and are discarded otherwise;
// the user never sees them.
#pragma once

#include <string>

namespace pelrow {

bool TraceEnabled();
void Trace(const std::string& line);

} // namespace pelrow
