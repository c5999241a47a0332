// The editor's line store: the lines of a box as 8-bit strings without line-break
// characters. Every change runs inside an update bracket and widens a recorded range
// of touched lines; when the outermost bracket ends the owning control is told which
// lines changed and whether the longest line grew, so it repaints only what it must.
// Characters are inserted and erased inside a line in place, so an edit in a line of
// many megabytes costs what the edit itself moves, not a copy of the line.
#pragma once

#include <functional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace pelrow {

class TVKStrings;

// Raised for a line index outside the list.
class EStringListError : public std::out_of_range {
public:
  using std::out_of_range::out_of_range;
};

// What the owning control hears from its line store.
class TVKStringsOwner {
public:
  virtual ~TVKStringsOwner() = default;
  // The outermost update bracket opens.
  virtual void LinesChanging(TVKStrings& sender) = 0;
  // The outermost update bracket closes (the list's ordinary change event).
  virtual void LinesChangeEnded(TVKStrings& sender) = 0;
  // Lines first..last were touched; first < 0 means the whole list, last -1 means
  // to the end of the list.
  virtual void LinesChanged(TVKStrings& sender, int first, int last) = 0;
  virtual void MaxLineLengthChanged(TVKStrings& sender, int maxLineLength) = 0;
  // The text from column col of line on is about to change; the lines after it may
  // move. Told at once, inside the bracket, so that whatever the owner derived from
  // the text before that point can be kept and the rest dropped.
  virtual void TextChanging(TVKStrings& /*sender*/, int /*line*/, int /*col*/) {}
};

class TVKStrings {
public:
  static constexpr int NothingChanged = -2;
  static constexpr int WholeList = -1;
  static constexpr int ToEnd = -1;

  TVKStrings() = default;
  TVKStrings(const TVKStrings& other) : FLines(other.FLines) {}
  TVKStrings& operator=(const TVKStrings& other);

  void SetOwner(TVKStringsOwner* owner) { FOwner = owner; }

  int Count() const { return static_cast<int>(FLines.size()); }
  bool Empty() const { return FLines.empty(); }
  const std::string& operator[](int index) const { return Get(index); }
  const std::string& Get(int index) const;
  int LineLength(int index) const { return static_cast<int>(Get(index).size()); }

  void Put(int index, std::string line);
  // Inserts text before column col of a line (col up to the line's length).
  void InsertInLine(int index, int col, std::string_view text);
  // Erases count characters from column col of a line on (at most to its end).
  void EraseInLine(int index, int col, int count);
  int Add(std::string line);
  void Insert(int index, std::string line);
  // Inserts several lines before index in one step.
  void InsertLines(int index, std::vector<std::string> lines);
  void Delete(int index);
  // Deletes count lines from index on in one step.
  void DeleteLines(int index, int count);
  void Clear();
  void Exchange(int index1, int index2);
  // compare(list, i, j) < 0 when line i sorts before line j.
  void CustomSort(const std::function<int(const TVKStrings&, int, int)>& compare);
  void AddStrings(const TVKStrings& other);
  void AddStrings(const std::vector<std::string>& lines);
  void Assign(const TVKStrings& other);
  // Exchanges the lines with other's, storage and all, at no cost per line: a list
  // filled elsewhere (on a worker thread) goes into a box in one step, and the box's
  // old lines leave with other.
  void Swap(TVKStrings& other);
  void Reserve(size_t count) { FLines.reserve(count); }

  // The lines joined by CR LF, without a break after the last line.
  std::string Text() const;
  // Replaces the lines by the text split at CR LF, CR or LF; a break at the very end
  // does not start another line.
  void SetText(std::string_view text);

  void BeginUpdate();
  void EndUpdate();
  bool Updating() const { return FUpdateCount > 0; }

  int MaxLineLength() const { return FMaxLineLength; }
  int FirstChanged() const { return FFirstChanged; }
  int LastChanged() const { return FLastChanged; }

  // Bytes held by the lines (capacity, string objects and the list itself).
  size_t MemoryUsed() const;

private:
  void CheckIndex(int index, int limit) const;
  void CheckColumn(int col, int limit) const;
  void NoteTextChanging(int line, int col);
  void RecordChange(int first, int last);
  void NoteLength(size_t length);

  std::vector<std::string> FLines;
  TVKStringsOwner* FOwner = nullptr;
  int FUpdateCount = 0;
  int FFirstChanged = NothingChanged;
  int FLastChanged = ToEnd;
  int FMaxLineLength = 0;
  int FReportedMaxLineLength = 0;
};

// Keeps a line store's update bracket open for one scope, so that the bracket closes
// and the owner hears of the change however the scope is left. When the scope is left
// by an exception, a second one raised while closing is dropped, so the caller hears
// of the first.
class TVKUpdateBracket {
public:
  explicit TVKUpdateBracket(TVKStrings& lines);
  ~TVKUpdateBracket() noexcept(false);
  TVKUpdateBracket(const TVKUpdateBracket&) = delete;
  TVKUpdateBracket& operator=(const TVKUpdateBracket&) = delete;

private:
  TVKStrings& FLines;
  int FExceptionsAtStart;
};

} // namespace pelrow
