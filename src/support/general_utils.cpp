#include "support/general_utils.h"

#include <charconv>
#include <climits>
#include <cstdlib>
#include <sys/stat.h>

namespace pelrow {

std::string RemoveExtension(const std::string& s) {
  const std::size_t dot = LastCharPos('.', s);
  return dot >= 2 ? s.substr(0, dot - 1) : s;
}

std::string AddTrailingBackslash(const std::string& s) {
  return s.empty() || s.back() == '\\' ? s : s + '\\';
}

std::size_t LastCharPos(char c, std::string_view s) {
  const std::size_t found = s.rfind(c);
  return found == std::string_view::npos ? 0 : found + 1;
}

bool DirExists(const std::string& path) {
  struct stat info {};
  return !path.empty() && ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

int MaxInt2(int a, int b) {
  return a > b ? a : b;
}

std::string LongPathName(const std::string& path) {
  char resolved[PATH_MAX];
  return !path.empty() && ::realpath(path.c_str(), resolved) != nullptr ? std::string(resolved)
                                                                        : path;
}

std::string FileNameOf(const std::string& path) {
  const std::size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

bool ParseDecimalInt32(std::string_view text, int32_t& value) {
  if (!text.empty() && text.front() == '+') {
    text.remove_prefix(1);
    if (!text.empty() && text.front() == '-')
      return false;
  }
  if (text.empty())
    return false;
  const char* end = text.data() + text.size();
  const auto [stop, problem] = std::from_chars(text.data(), end, value);
  return problem == std::errc() && stop == end;
}

} // namespace pelrow
