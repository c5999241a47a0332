// The editor's line store: the lines of a box as 8-bit strings without line-break
// characters. Every change runs inside an update bracket and widens a recorded range
// of touched lines; when the outermost bracket ends the owning control is told which
// lines changed and whether the longest line grew, so it repaints only what it must.
// The lines are packed (see TVKLineStore); characters are inserted and erased inside a
// line in place, so an edit in a line of many megabytes costs what the edit itself
// moves, not a copy of the line, and runs of whole lines move out and back in (the
// undo history's deletions) without copying.
#pragma once

#include "editor/vklinestore.h"

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
  // See TVKLineStore::SetBlockBytes.
  void SetBlockBytes(size_t bytes) { FLines.SetBlockBytes(bytes); }
  size_t BlockBytes() const { return FLines.BlockBytes(); }

  int Count() const { return FLines.Count(); }
  bool Empty() const { return FLines.Empty(); }
  // A line's characters, valid until the list next changes.
  std::string_view operator[](int index) const { return Get(index); }
  std::string_view Get(int index) const;
  int LineLength(int index) const { return static_cast<int>(Get(index).size()); }
  // Characters of all lines, without line breaks.
  size_t TextBytes() const { return FLines.TextBytes(); }

  void Put(int index, std::string_view line);
  // Inserts text before column col of a line (col up to the line's length).
  void InsertInLine(int index, int col, std::string_view text);
  // Erases count characters from column col of a line on (at most to its end).
  void EraseInLine(int index, int col, int count);
  int Add(std::string_view line);
  void Insert(int index, std::string_view line);
  // Inserts several lines before index in one step.
  void InsertLines(int index, const std::vector<std::string>& lines);
  void Delete(int index);
  // Deletes count lines from index on in one step.
  void DeleteLines(int index, int count);
  // Line index keeps its first col characters; the rest becomes a new line after it.
  void SplitLine(int index, int col);
  // Appends line index + 1 to line index.
  void JoinLines(int index);
  // Moves count lines from index on out of the list, without copying whole blocks.
  TVKLineStore TakeLines(int index, int count);
  // Moves the lines of a store in before index (index up to Count()).
  void PutLines(int index, TVKLineStore&& lines);
  void Clear();
  void Exchange(int index1, int index2);
  // compare(list, i, j) < 0 when line i sorts before line j.
  void CustomSort(const std::function<int(const TVKStrings&, int, int)>& compare);
  void AddStrings(const TVKStrings& other);
  void AddStrings(const std::vector<std::string>& lines);
  void Assign(const TVKStrings& other);
  // Takes the other list's lines without copying them; the other list is left empty.
  void Assign(TVKStrings&& other);
  // Exchanges the lines with other's, storage and all, at no cost per line: a list
  // filled elsewhere (on a worker thread) goes into a box in one step, and the box's
  // old lines leave with other.
  void Swap(TVKStrings& other);
  // Lines are packed into blocks that grow as needed; kept for callers that announce
  // a large batch.
  void Reserve(size_t /*count*/) {}

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

  // Bytes held by the lines (buffers, line offsets and block list).
  size_t MemoryUsed() const { return FLines.MemoryUsed(); }

private:
  void CheckIndex(int index, int limit) const;
  void CheckColumn(int col, int limit) const;
  void NoteTextChanging(int line, int col);
  void RecordChange(int first, int last);
  void NoteLength(size_t length);
  // Replaces the whole list.
  void Replace(TVKLineStore&& lines);

  TVKLineStore FLines;
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
