#include "app/dialog_filter.h"

namespace pelrow {

namespace {

std::vector<std::string_view> Split(std::string_view text, char separator) {
  std::vector<std::string_view> parts;
  for (;;) {
    const std::size_t at = text.find(separator);
    parts.push_back(text.substr(0, at));
    if (at == std::string_view::npos)
      return parts;
    text.remove_prefix(at + 1);
  }
}

} // namespace

std::vector<std::string> DialogNameFilters(std::string_view filter) {
  std::vector<std::string> entries;
  const std::vector<std::string_view> parts = Split(filter, '|');
  for (std::size_t i = 0; i + 1 < parts.size(); i += 2) {
    std::string description(parts[i]);
    const std::string_view patterns = parts[i + 1];
    std::string spaced;
    for (const std::string_view pattern : Split(patterns, ';'))
      spaced += (spaced.empty() ? "" : " ") + std::string(pattern);
    const std::string shown = "(" + std::string(patterns) + ")";
    if (description.size() >= shown.size() &&
        description.compare(description.size() - shown.size(), shown.size(), shown) == 0)
      description.erase(description.size() - shown.size());
    else if (!description.empty())
      description += ' ';
    entries.push_back(description + "(" + spaced + ")");
  }
  return entries;
}

} // namespace pelrow
