// The program's message texts are printf patterns ("%s was loaded succesfully
// (%s)."), kept exactly as the user sees them; this fills one in.
#pragma once

#include <string>

namespace pelrow {

std::string PrintfText(const char* pattern, ...) __attribute__((format(printf, 1, 2)));

} // namespace pelrow
