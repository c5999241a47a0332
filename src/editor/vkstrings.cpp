#include "editor/vkstrings.h"

#include "support/text_format.h"

#include <algorithm>
#include <exception>
#include <numeric>

namespace pelrow {

namespace {
constexpr const char* ListIndexErrorText = "List index out of bounds (%d)";
constexpr const char* ColumnIndexErrorText = "Column index out of bounds (%d)";

std::string IndexErrorMessage(const char* format, int index) {
  return FormatText(format, index);
}
} // namespace

TVKUpdateBracket::TVKUpdateBracket(TVKStrings& lines)
    : FLines(lines), FExceptionsAtStart(std::uncaught_exceptions()) {
  FLines.BeginUpdate();
}

TVKUpdateBracket::~TVKUpdateBracket() noexcept(false) {
  if (std::uncaught_exceptions() == FExceptionsAtStart) {
    FLines.EndUpdate();
    return;
  }
  try {
    FLines.EndUpdate();
  } catch (...) {
    // Unwinding already: a second exception would end the program.
  }
}

TVKStrings& TVKStrings::operator=(const TVKStrings& other) {
  Assign(other);
  return *this;
}

void TVKStrings::CheckIndex(int index, int limit) const {
  if (index < 0 || index >= limit)
    throw EStringListError(IndexErrorMessage(ListIndexErrorText, index));
}

void TVKStrings::CheckColumn(int col, int limit) const {
  if (col < 0 || col >= limit)
    throw EStringListError(IndexErrorMessage(ColumnIndexErrorText, col));
}

void TVKStrings::NoteTextChanging(int line, int col) {
  if (FOwner)
    FOwner->TextChanging(*this, line, col);
}

const std::string& TVKStrings::Get(int index) const {
  CheckIndex(index, Count());
  return FLines[static_cast<size_t>(index)];
}

void TVKStrings::RecordChange(int first, int last) {
  if (FFirstChanged == NothingChanged) {
    FFirstChanged = first;
    FLastChanged = last;
  } else if (FFirstChanged < 0 || first < 0) {
    FFirstChanged = WholeList;
    FLastChanged = ToEnd;
  } else {
    FFirstChanged = std::min(FFirstChanged, first);
    FLastChanged = (FLastChanged == ToEnd || last == ToEnd) ? ToEnd : std::max(FLastChanged, last);
  }
}

void TVKStrings::NoteLength(size_t length) {
  FMaxLineLength = std::max(FMaxLineLength, static_cast<int>(length));
}

void TVKStrings::Put(int index, std::string line) {
  CheckIndex(index, Count());
  const TVKUpdateBracket bracket(*this);
  NoteTextChanging(index, 0);
  NoteLength(line.size());
  FLines[static_cast<size_t>(index)] = std::move(line);
  RecordChange(index, index);
}

void TVKStrings::InsertInLine(int index, int col, std::string_view text) {
  CheckIndex(index, Count());
  std::string& line = FLines[static_cast<size_t>(index)];
  CheckColumn(col, static_cast<int>(line.size()) + 1);
  if (text.empty())
    return;
  const TVKUpdateBracket bracket(*this);
  NoteTextChanging(index, col);
  line.insert(static_cast<size_t>(col), text);
  NoteLength(line.size());
  RecordChange(index, index);
}

void TVKStrings::EraseInLine(int index, int col, int count) {
  CheckIndex(index, Count());
  std::string& line = FLines[static_cast<size_t>(index)];
  CheckColumn(col, static_cast<int>(line.size()) + 1);
  if (count <= 0 || col == static_cast<int>(line.size()))
    return;
  const TVKUpdateBracket bracket(*this);
  NoteTextChanging(index, col);
  line.erase(static_cast<size_t>(col), static_cast<size_t>(count));
  RecordChange(index, index);
}

int TVKStrings::Add(std::string line) {
  const int index = Count();
  Insert(index, std::move(line));
  return index;
}

void TVKStrings::Insert(int index, std::string line) {
  CheckIndex(index, Count() + 1);
  const TVKUpdateBracket bracket(*this);
  NoteTextChanging(index, 0);
  NoteLength(line.size());
  FLines.insert(FLines.begin() + index, std::move(line));
  RecordChange(index, ToEnd);
}

void TVKStrings::InsertLines(int index, std::vector<std::string> lines) {
  CheckIndex(index, Count() + 1);
  if (lines.empty())
    return;
  const TVKUpdateBracket bracket(*this);
  NoteTextChanging(index, 0);
  for (const std::string& line : lines)
    NoteLength(line.size());
  FLines.insert(FLines.begin() + index, std::make_move_iterator(lines.begin()),
                std::make_move_iterator(lines.end()));
  RecordChange(index, ToEnd);
}

void TVKStrings::Delete(int index) {
  DeleteLines(index, 1);
}

void TVKStrings::DeleteLines(int index, int count) {
  if (count <= 0)
    return;
  CheckIndex(index, Count());
  CheckIndex(index + count - 1, Count());
  const TVKUpdateBracket bracket(*this);
  NoteTextChanging(index, 0);
  FLines.erase(FLines.begin() + index, FLines.begin() + index + count);
  RecordChange(index, ToEnd);
}

void TVKStrings::Clear() {
  const TVKUpdateBracket bracket(*this);
  NoteTextChanging(0, 0);
  FLines.clear();
  FLines.shrink_to_fit();
  FMaxLineLength = 0;
  RecordChange(WholeList, ToEnd);
}

void TVKStrings::Swap(TVKStrings& other) {
  if (&other == this)
    return;
  const TVKUpdateBracket bracket(*this);
  NoteTextChanging(0, 0);
  FLines.swap(other.FLines);
  std::swap(FMaxLineLength, other.FMaxLineLength);
  RecordChange(WholeList, ToEnd);
}

void TVKStrings::Exchange(int index1, int index2) {
  CheckIndex(index1, Count());
  CheckIndex(index2, Count());
  const TVKUpdateBracket bracket(*this);
  NoteTextChanging(std::min(index1, index2), 0);
  std::swap(FLines[static_cast<size_t>(index1)], FLines[static_cast<size_t>(index2)]);
  RecordChange(index1, index1);
  RecordChange(index2, index2);
}

void TVKStrings::CustomSort(const std::function<int(const TVKStrings&, int, int)>& compare) {
  const TVKUpdateBracket bracket(*this);
  NoteTextChanging(0, 0);
  std::vector<int> order(FLines.size());
  std::iota(order.begin(), order.end(), 0);
  std::stable_sort(order.begin(), order.end(),
                   [&](int a, int b) { return compare(*this, a, b) < 0; });
  std::vector<std::string> sorted;
  sorted.reserve(FLines.size());
  for (int index : order)
    sorted.push_back(std::move(FLines[static_cast<size_t>(index)]));
  FLines = std::move(sorted);
  RecordChange(WholeList, ToEnd);
}

void TVKStrings::AddStrings(const TVKStrings& other) {
  AddStrings(other.FLines);
}

void TVKStrings::AddStrings(const std::vector<std::string>& lines) {
  InsertLines(Count(), lines);
}

void TVKStrings::Assign(const TVKStrings& other) {
  if (&other == this)
    return;
  const TVKUpdateBracket bracket(*this);
  Clear();
  AddStrings(other);
}

std::string TVKStrings::Text() const {
  size_t size = 0;
  for (const std::string& line : FLines)
    size += line.size() + 2;
  std::string text;
  text.reserve(size);
  for (size_t i = 0; i < FLines.size(); ++i) {
    if (i > 0)
      text += "\r\n";
    text += FLines[i];
  }
  return text;
}

void TVKStrings::SetText(std::string_view text) {
  const TVKUpdateBracket bracket(*this);
  Clear();
  // CR LF text has as many CRs as LFs, so the larger count is close to the line count.
  const auto breaks = std::max(std::count(text.begin(), text.end(), '\n'),
                               std::count(text.begin(), text.end(), '\r'));
  FLines.reserve(static_cast<size_t>(breaks) + 1);
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find_first_of("\r\n", start);
    if (end == std::string_view::npos)
      end = text.size();
    NoteLength(end - start);
    FLines.emplace_back(text.substr(start, end - start));
    // Step over the break: CR LF counts once, a lone CR or LF once each.
    start = end + 1;
    if (end + 1 < text.size() && text[end] == '\r' && text[end + 1] == '\n')
      ++start;
  }
  RecordChange(WholeList, ToEnd);
}

void TVKStrings::BeginUpdate() {
  if (FUpdateCount++ == 0 && FOwner)
    FOwner->LinesChanging(*this);
}

void TVKStrings::EndUpdate() {
  if (FUpdateCount == 0 || --FUpdateCount > 0)
    return;
  if (FOwner)
    FOwner->LinesChangeEnded(*this);
  if (FFirstChanged != NothingChanged) {
    const int first = FFirstChanged;
    const int last = FLastChanged;
    FFirstChanged = NothingChanged;
    FLastChanged = ToEnd;
    if (FOwner)
      FOwner->LinesChanged(*this, first, last);
  }
  if (FMaxLineLength != FReportedMaxLineLength) {
    FReportedMaxLineLength = FMaxLineLength;
    if (FOwner)
      FOwner->MaxLineLengthChanged(*this, FMaxLineLength);
  }
}

size_t TVKStrings::MemoryUsed() const {
  constexpr size_t inlineCapacity = 15;
  size_t bytes = FLines.capacity() * sizeof(std::string);
  for (const std::string& line : FLines)
    if (line.capacity() > inlineCapacity)
      bytes += line.capacity() + 1;
  return bytes;
}

} // namespace pelrow
