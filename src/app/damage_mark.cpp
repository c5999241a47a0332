#include "app/damage_mark.h"

#include "app/line_formatter.h"

#include <array>
#include <cctype>

namespace pelrow {

namespace {

constexpr std::array<std::string_view, 5> MarkWords{"damaged", "lost", "gap", "cut", "incomplete"};

// Hex text holds none of the comment characters, so the first of them starts the
// comment.
std::string_view CommentOf(std::string_view line) {
  for (size_t i = 0; i < line.size(); ++i) {
    if (line[i] == ';' || line[i] == '#')
      return line.substr(i + 1);
    if (line[i] == '/' && i + 1 < line.size() && line[i + 1] == '/')
      return line.substr(i + 2);
  }
  return {};
}

bool IsLetter(char c) {
  return std::isalpha(static_cast<unsigned char>(c)) != 0;
}

} // namespace

TDumpMark DumpMarkOf(std::string_view line) {
  // The receive path's marks are told apart by their start alone, so that their
  // wording after it may change.
  const size_t start = line.find_first_not_of(" \t");
  if (start != std::string_view::npos) {
    switch (MarkLineKind(line.substr(start))) {
    case TMarkLine::Certain:
      return TDumpMark::Damage;
    case TMarkLine::Possible:
      return TDumpMark::Interruption;
    case TMarkLine::None:
      break;
    }
  }
  std::string_view comment = CommentOf(line);
  while (!comment.empty() && !IsLetter(comment.front()))
    comment.remove_prefix(1);
  size_t length = 0;
  while (length < comment.size() && IsLetter(comment[length]))
    ++length;
  const std::string_view word = comment.substr(0, length);
  for (const std::string_view mark : MarkWords)
    if (word.size() == mark.size() &&
        std::equal(word.begin(), word.end(), mark.begin(),
                   [](char a, char b) { return std::tolower(static_cast<unsigned char>(a)) == b; }))
      return TDumpMark::Damage;
  return TDumpMark::None;
}

} // namespace pelrow
