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

std::string_view TVKStrings::Get(int index) const {
  CheckIndex(index, Count());
  return FLines.Get(index);
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

void TVKStrings::Put(int index, std::string_view line) {
  CheckIndex(index, Count());
  const TVKUpdateBracket bracket(*this);
  NoteTextChanging(index, 0);
  NoteLength(line.size());
  const std::string copy(line); // the new text may be a view into the list
  FLines.EraseInLine(index, 0, FLines.LineLength(index));
  FLines.InsertInLine(index, 0, copy);
  RecordChange(index, index);
}

void TVKStrings::InsertInLine(int index, int col, std::string_view text) {
  CheckIndex(index, Count());
  CheckColumn(col, FLines.LineLength(index) + 1);
  if (text.empty())
    return;
  const TVKUpdateBracket bracket(*this);
  NoteTextChanging(index, col);
  FLines.InsertInLine(index, col, text);
  NoteLength(static_cast<size_t>(FLines.LineLength(index)));
  RecordChange(index, index);
}

void TVKStrings::EraseInLine(int index, int col, int count) {
  CheckIndex(index, Count());
  const int length = FLines.LineLength(index);
  CheckColumn(col, length + 1);
  if (count <= 0 || col == length)
    return;
  const TVKUpdateBracket bracket(*this);
  NoteTextChanging(index, col);
  FLines.EraseInLine(index, col, std::min(count, length - col));
  RecordChange(index, index);
}

int TVKStrings::Add(std::string_view line) {
  const int index = Count();
  Insert(index, line);
  return index;
}

void TVKStrings::Insert(int index, std::string_view line) {
  CheckIndex(index, Count() + 1);
  const TVKUpdateBracket bracket(*this);
  NoteTextChanging(index, 0);
  NoteLength(line.size());
  FLines.InsertLine(index, line);
  RecordChange(index, ToEnd);
}

void TVKStrings::InsertLines(int index, const std::vector<std::string>& lines) {
  CheckIndex(index, Count() + 1);
  if (lines.empty())
    return;
  const TVKUpdateBracket bracket(*this);
  NoteTextChanging(index, 0);
  std::vector<std::string_view> views;
  views.reserve(lines.size());
  for (const std::string& line : lines) {
    NoteLength(line.size());
    views.emplace_back(line);
  }
  FLines.InsertLines(index, views);
  RecordChange(index, ToEnd);
}

void TVKStrings::Delete(int index) {
  DeleteLines(index, 1);
}

void TVKStrings::DeleteLines(int index, int count) {
  TakeLines(index, count);
}

TVKLineStore TVKStrings::TakeLines(int index, int count) {
  if (count <= 0)
    return {};
  CheckIndex(index, Count());
  CheckIndex(index + count - 1, Count());
  const TVKUpdateBracket bracket(*this);
  NoteTextChanging(index, 0);
  RecordChange(index, ToEnd);
  return FLines.TakeLines(index, count);
}

void TVKStrings::PutLines(int index, TVKLineStore&& lines) {
  CheckIndex(index, Count() + 1);
  if (lines.Empty())
    return;
  const TVKUpdateBracket bracket(*this);
  NoteTextChanging(index, 0);
  NoteLength(static_cast<size_t>(lines.LongestLine()));
  FLines.PutLines(index, std::move(lines));
  RecordChange(index, ToEnd);
}

void TVKStrings::SplitLine(int index, int col) {
  CheckIndex(index, Count());
  CheckColumn(col, FLines.LineLength(index) + 1);
  const TVKUpdateBracket bracket(*this);
  NoteTextChanging(index, col);
  FLines.SplitLine(index, col);
  RecordChange(index, ToEnd);
}

void TVKStrings::JoinLines(int index) {
  CheckIndex(index, Count() - 1);
  const TVKUpdateBracket bracket(*this);
  NoteTextChanging(index, FLines.LineLength(index));
  FLines.JoinLines(index);
  NoteLength(static_cast<size_t>(FLines.LineLength(index)));
  RecordChange(index, ToEnd);
}

void TVKStrings::Replace(TVKLineStore&& lines) {
  const TVKUpdateBracket bracket(*this);
  NoteTextChanging(0, 0);
  FMaxLineLength = lines.LongestLine();
  FLines = std::move(lines);
  RecordChange(WholeList, ToEnd);
}

void TVKStrings::Clear() {
  const TVKUpdateBracket bracket(*this);
  NoteTextChanging(0, 0);
  FLines.Clear();
  FMaxLineLength = 0;
  RecordChange(WholeList, ToEnd);
}

void TVKStrings::Swap(TVKStrings& other) {
  if (&other == this)
    return;
  const TVKUpdateBracket bracket(*this);
  NoteTextChanging(0, 0);
  TVKLineStore mine = std::move(FLines);
  FLines = std::move(other.FLines);
  other.FLines = std::move(mine);
  std::swap(FMaxLineLength, other.FMaxLineLength);
  RecordChange(WholeList, ToEnd);
}

void TVKStrings::Exchange(int index1, int index2) {
  CheckIndex(index1, Count());
  CheckIndex(index2, Count());
  if (index1 == index2)
    return;
  const TVKUpdateBracket bracket(*this);
  const std::string first(FLines.Get(index1));
  const std::string second(FLines.Get(index2));
  Put(index1, second);
  Put(index2, first);
}

void TVKStrings::CustomSort(const std::function<int(const TVKStrings&, int, int)>& compare) {
  std::vector<int> order(static_cast<size_t>(Count()));
  std::iota(order.begin(), order.end(), 0);
  std::stable_sort(order.begin(), order.end(),
                   [&](int a, int b) { return compare(*this, a, b) < 0; });
  TVKLineStore sorted;
  sorted.SetBlockBytes(FLines.BlockBytes());
  for (int index : order)
    sorted.InsertLine(sorted.Count(), FLines.Get(index));
  Replace(std::move(sorted));
}

void TVKStrings::AddStrings(const TVKStrings& other) {
  if (&other == this) {
    AddStrings(TVKStrings(other));
    return;
  }
  const TVKUpdateBracket bracket(*this);
  for (int i = 0; i < other.Count(); ++i)
    Add(other[i]);
}

void TVKStrings::AddStrings(const std::vector<std::string>& lines) {
  InsertLines(Count(), lines);
}

void TVKStrings::Assign(const TVKStrings& other) {
  if (&other != this)
    Replace(TVKLineStore(other.FLines));
}

void TVKStrings::Assign(TVKStrings&& other) {
  if (&other == this)
    return;
  TVKLineStore lines = std::move(other.FLines);
  other.Clear();
  Replace(std::move(lines));
}

std::string TVKStrings::Text() const {
  return FLines.Joined();
}

void TVKStrings::SetText(std::string_view text) {
  // Unlike inserted text, LF CR here is two breaks and a final break adds no line.
  TVKLineStore lines;
  lines.SetBlockBytes(FLines.BlockBytes());
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find_first_of("\r\n", start);
    if (end == std::string_view::npos)
      end = text.size();
    lines.InsertLine(lines.Count(), text.substr(start, end - start));
    // Step over the break: CR LF counts once, a lone CR or LF once each.
    start = end + 1;
    if (end + 1 < text.size() && text[end] == '\r' && text[end + 1] == '\n')
      ++start;
  }
  Replace(std::move(lines));
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

} // namespace pelrow
