// Small string and path helpers shared across the program.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace pelrow {

// The text before the last dot, if that dot is not the first character; so
// "archive.tar.gz" gives "archive.tar" and ".profile" stays as it is.
std::string RemoveExtension(const std::string& s);
// s with a backslash appended, unless it is empty or already ends with one.
std::string AddTrailingBackslash(const std::string& s);
// 1-based position of the last c in s; 0 when there is none.
std::size_t LastCharPos(char c, std::string_view s);
// True when the path names an existing folder.
bool DirExists(const std::string& path);
int MaxInt2(int a, int b);
// The canonical form of an existing path (links resolved, "." and ".." removed);
// a path that does not exist is answered unchanged.
std::string LongPathName(const std::string& path);
// The file-name part of a path (everything after the last slash).
std::string FileNameOf(const std::string& path);
// A decimal number with an optional sign that fits in 32 bits, and nothing else.
bool ParseDecimalInt32(std::string_view text, int32_t& value);

} // namespace pelrow
