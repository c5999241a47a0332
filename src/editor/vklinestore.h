// Packed storage for the editor's lines. The characters of neighbouring lines sit back
// to back in blocks of a few tens of kilobytes, each block with the end offset of
// every line in it, so a line costs four bytes beyond its text however short it is.
// A line longer than a block gets a block of its own, whose buffer grows in place.
// Whole blocks move between stores without copying: a cleared selection moves into
// the undo history and back.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace pelrow {

// A growable run of characters on the C heap, so that growing a very long line can
// remap its pages instead of copying them.
class TVKTextBuffer {
public:
  TVKTextBuffer() = default;
  TVKTextBuffer(const TVKTextBuffer& other);
  TVKTextBuffer(TVKTextBuffer&& other) noexcept;
  TVKTextBuffer& operator=(TVKTextBuffer other) noexcept;
  ~TVKTextBuffer();

  const char* Data() const { return FData; }
  size_t Size() const { return FSize; }
  size_t Capacity() const { return FCapacity; }
  std::string_view View(size_t pos, size_t count) const { return {FData + pos, count}; }

  void Insert(size_t pos, std::string_view text);
  void Erase(size_t pos, size_t count);
  void Truncate(size_t size) { FSize = size; }
  void Reserve(size_t capacity);
  // Gives back spare room beyond a quarter of the size.
  void ShrinkToFit();

private:
  void Resize(size_t capacity);

  char* FData = nullptr;
  size_t FSize = 0;
  size_t FCapacity = 0;
};

class TVKLineStore {
public:
  static constexpr size_t DefaultBlockBytes = 64 * 1024;

  TVKLineStore() = default;
  TVKLineStore(const TVKLineStore& other);
  TVKLineStore(TVKLineStore&& other) noexcept;
  TVKLineStore& operator=(const TVKLineStore& other);
  TVKLineStore& operator=(TVKLineStore&& other) noexcept;
  ~TVKLineStore();

  // The text a single block of several lines may hold; small blocks in tests reach
  // the block boundaries with a few characters.
  void SetBlockBytes(size_t bytes) { FBlockBytes = bytes < 1 ? 1 : bytes; }
  size_t BlockBytes() const { return FBlockBytes; }

  int Count() const { return FCount; }
  bool Empty() const { return FCount == 0; }
  // Characters of all lines, without line breaks.
  size_t TextBytes() const { return FTextBytes; }
  // Valid until the store next changes.
  std::string_view Get(int index) const;
  int LineLength(int index) const { return static_cast<int>(Get(index).size()); }
  int LongestLine() const;

  // Indexes and columns must lie inside the store (columns up to the line's length).
  void InsertInLine(int index, int col, std::string_view text);
  void EraseInLine(int index, int col, int count);
  void InsertLine(int index, std::string_view line);
  void InsertLines(int index, const std::vector<std::string_view>& lines);
  void DeleteLines(int index, int count);
  // Line index keeps its first col characters; the rest becomes a new line after it.
  void SplitLine(int index, int col);
  // Line index + 1 is appended to line index.
  void JoinLines(int index);
  // Moves count lines from index on into a store of their own.
  TVKLineStore TakeLines(int index, int count);
  // Moves every line of lines in before index, leaving lines empty.
  void PutLines(int index, TVKLineStore&& lines);
  void Clear();

  // Text split into lines at CR LF, LF CR, a lone CR or a lone LF; a break at the end
  // leaves an empty last line, and an empty text is one empty line.
  static TVKLineStore FromPieces(std::string_view text, size_t blockBytes = DefaultBlockBytes);
  // The lines joined by CR LF.
  std::string Joined() const;

  // Bytes held: the buffers' capacity, the line offsets and the block list.
  size_t MemoryUsed() const;

private:
  struct TBlock {
    TVKTextBuffer Text;
    std::vector<uint32_t> Ends; // end offset of each line in Text

    int Lines() const { return static_cast<int>(Ends.size()); }
    size_t Start(int line) const { return line == 0 ? 0 : Ends[static_cast<size_t>(line - 1)]; }
    std::string_view Line(int line) const;
    void Shift(int fromLine, int64_t delta);
  };
  struct TPlace {
    size_t Block;
    int Line;
  };

  TPlace Locate(int index) const;
  // Recounts the first line of every block from block on.
  void Renumber(size_t block);
  // Makes index the first line of a block (or the end); returns that block.
  size_t CutBefore(int index);
  // Splits an overfull block of several lines into blocks of at most FBlockBytes.
  void Repack(size_t block);
  // Joins small neighbours of the blocks around block.
  void MergeAround(size_t block);
  void MergeWithNext(size_t block);
  void AppendToBlock(TBlock& block, std::string_view line);
  void ReleaseAll();

  std::vector<TBlock> FBlocks;
  std::vector<int> FFirstLine; // index of each block's first line
  // The block found last: reading the lines in order finds each line there or in the
  // next block without a search. Atomic so that readers on several threads may share it.
  mutable std::atomic<size_t> FLastBlock{0};
  int FCount = 0;
  size_t FTextBytes = 0;
  size_t FBlockBytes = DefaultBlockBytes;
};

// Where a text inserted by pieces ends: the number of breaks in it and the length of
// its last piece.
struct TVKTextShape {
  int Breaks = 0;
  int LastLength = 0;
};
TVKTextShape ShapeOfPieces(std::string_view text);

// Calls piece(text) for every piece of text between breaks (see FromPieces).
template <typename TPiece> void ForEachPiece(std::string_view text, TPiece&& piece) {
  size_t start = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c != '\r' && c != '\n')
      continue;
    piece(text.substr(start, i - start));
    // CR LF and LF CR are one break each.
    const char partner = c == '\r' ? '\n' : '\r';
    if (i + 1 < text.size() && text[i + 1] == partner)
      ++i;
    start = i + 1;
  }
  piece(text.substr(start));
}

// Gives freed memory back to the system once enough of it has come together, so that
// clearing a large box shrinks the program without a cost on every keystroke.
void NoteMemoryFreed(size_t bytes);

} // namespace pelrow
