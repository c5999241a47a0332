#include "editor/vklinestore.h"

#include <malloc.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <new>

namespace pelrow {

namespace {
// Buffers below this double when they grow; longer lines grow by an eighth, which the
// C library does by remapping pages, so a line of many megabytes never exists twice.
constexpr size_t DoublingLimit = size_t{1} << 20;
// Freed memory is handed back to the system once this much has come together.
constexpr size_t TrimThreshold = size_t{64} << 20;
// What one line adds to a block beyond its characters.
constexpr size_t LineOverhead = sizeof(uint32_t);

std::atomic<size_t> FreedSinceTrim{0};

void ReturnFreedMemory() {
  if (FreedSinceTrim.load(std::memory_order_relaxed) < TrimThreshold)
    return;
  FreedSinceTrim.store(0, std::memory_order_relaxed);
  malloc_trim(0);
}
} // namespace

void NoteMemoryFreed(size_t bytes) {
  FreedSinceTrim.fetch_add(bytes, std::memory_order_relaxed);
}

// --- TVKTextBuffer ---------------------------------------------------------------------

TVKTextBuffer::TVKTextBuffer(const TVKTextBuffer& other) {
  Insert(0, std::string_view(other.FData, other.FSize));
}

TVKTextBuffer::TVKTextBuffer(TVKTextBuffer&& other) noexcept
    : FData(other.FData), FSize(other.FSize), FCapacity(other.FCapacity) {
  other.FData = nullptr;
  other.FSize = other.FCapacity = 0;
}

TVKTextBuffer& TVKTextBuffer::operator=(TVKTextBuffer other) noexcept {
  std::swap(FData, other.FData);
  std::swap(FSize, other.FSize);
  std::swap(FCapacity, other.FCapacity);
  return *this;
}

TVKTextBuffer::~TVKTextBuffer() {
  NoteMemoryFreed(FCapacity);
  std::free(FData);
}

void TVKTextBuffer::Resize(size_t capacity) {
  if (capacity == 0) {
    std::free(FData);
    FData = nullptr;
  } else {
    void* moved = std::realloc(FData, capacity);
    if (!moved)
      throw std::bad_alloc();
    FData = static_cast<char*>(moved);
  }
  FCapacity = capacity;
}

void TVKTextBuffer::Reserve(size_t capacity) {
  if (capacity > FCapacity)
    Resize(capacity);
}

void TVKTextBuffer::ShrinkToFit() {
  if (FCapacity - FSize > FSize / 4 + 64)
    Resize(FSize);
}

void TVKTextBuffer::Insert(size_t pos, std::string_view text) {
  if (text.empty())
    return;
  if (text.data() >= FData && text.data() < FData + FSize) {
    // Text from this buffer would move under our feet.
    const std::string copy(text);
    Insert(pos, copy);
    return;
  }
  const size_t need = FSize + text.size();
  if (need > FCapacity)
    Resize(std::max(need, need < DoublingLimit ? FCapacity * 2 : need + need / 8));
  std::memmove(FData + pos + text.size(), FData + pos, FSize - pos);
  std::memcpy(FData + pos, text.data(), text.size());
  FSize = need;
}

void TVKTextBuffer::Erase(size_t pos, size_t count) {
  if (count == 0)
    return;
  std::memmove(FData + pos, FData + pos + count, FSize - pos - count);
  FSize -= count;
  if (FCapacity > 4096 && FSize < FCapacity / 4)
    Resize(FSize + FSize / 2);
}

// --- TVKLineStore ----------------------------------------------------------------------

std::string_view TVKLineStore::TBlock::Line(int line) const {
  const size_t start = Start(line);
  return Text.View(start, Ends[static_cast<size_t>(line)] - start);
}

void TVKLineStore::TBlock::Shift(int fromLine, int64_t delta) {
  for (size_t i = static_cast<size_t>(fromLine); i < Ends.size(); ++i)
    Ends[i] = static_cast<uint32_t>(Ends[i] + delta);
}

TVKLineStore::TVKLineStore(TVKLineStore&& other) noexcept
    : FBlocks(std::move(other.FBlocks)), FFirstLine(std::move(other.FFirstLine)),
      FCount(other.FCount), FTextBytes(other.FTextBytes), FBlockBytes(other.FBlockBytes) {
  other.FBlocks.clear();
  other.FFirstLine.clear();
  other.FCount = 0;
  other.FTextBytes = 0;
}

TVKLineStore::TVKLineStore(const TVKLineStore& other)
    : FBlocks(other.FBlocks), FFirstLine(other.FFirstLine), FCount(other.FCount),
      FTextBytes(other.FTextBytes), FBlockBytes(other.FBlockBytes) {}

TVKLineStore& TVKLineStore::operator=(const TVKLineStore& other) {
  if (&other != this)
    *this = TVKLineStore(other);
  return *this;
}

TVKLineStore& TVKLineStore::operator=(TVKLineStore&& other) noexcept {
  if (&other == this)
    return *this;
  ReleaseAll();
  std::swap(FBlocks, other.FBlocks);
  std::swap(FFirstLine, other.FFirstLine);
  std::swap(FCount, other.FCount);
  std::swap(FTextBytes, other.FTextBytes);
  FBlockBytes = other.FBlockBytes;
  ReturnFreedMemory();
  return *this;
}

TVKLineStore::~TVKLineStore() {
  ReleaseAll();
  ReturnFreedMemory();
}

void TVKLineStore::ReleaseAll() {
  std::vector<TBlock>().swap(FBlocks);
  std::vector<int>().swap(FFirstLine);
  FCount = 0;
  FTextBytes = 0;
}

void TVKLineStore::Clear() {
  ReleaseAll();
  ReturnFreedMemory();
}

TVKLineStore::TPlace TVKLineStore::Locate(int index) const {
  const size_t last = FLastBlock.load(std::memory_order_relaxed);
  for (size_t block = last; block < last + 2 && block < FBlocks.size(); ++block) {
    const int line = index - FFirstLine[block];
    if (line >= 0 && line < FBlocks[block].Lines()) {
      if (block != last)
        FLastBlock.store(block, std::memory_order_relaxed);
      return {block, line};
    }
  }
  const auto after = std::upper_bound(FFirstLine.begin(), FFirstLine.end(), index);
  const auto block = static_cast<size_t>(after - FFirstLine.begin() - 1);
  FLastBlock.store(block, std::memory_order_relaxed);
  return {block, index - FFirstLine[block]};
}

std::string_view TVKLineStore::Get(int index) const {
  const TPlace place = Locate(index);
  return FBlocks[place.Block].Line(place.Line);
}

int TVKLineStore::LongestLine() const {
  uint32_t longest = 0;
  for (const TBlock& block : FBlocks) {
    uint32_t start = 0;
    for (const uint32_t end : block.Ends) {
      longest = std::max(longest, end - start);
      start = end;
    }
  }
  return static_cast<int>(longest);
}

void TVKLineStore::Renumber(size_t block) {
  FFirstLine.resize(FBlocks.size());
  for (size_t k = block; k < FBlocks.size(); ++k)
    FFirstLine[k] = k == 0 ? 0 : FFirstLine[k - 1] + FBlocks[k - 1].Lines();
}

namespace {
size_t Weight(size_t bytes, size_t lines) {
  return bytes + lines * LineOverhead;
}
} // namespace

void TVKLineStore::InsertInLine(int index, int col, std::string_view text) {
  const TPlace place = Locate(index);
  TBlock& block = FBlocks[place.Block];
  block.Text.Insert(block.Start(place.Line) + static_cast<size_t>(col), text);
  block.Shift(place.Line, static_cast<int64_t>(text.size()));
  FTextBytes += text.size();
  Repack(place.Block);
}

void TVKLineStore::EraseInLine(int index, int col, int count) {
  const TPlace place = Locate(index);
  TBlock& block = FBlocks[place.Block];
  block.Text.Erase(block.Start(place.Line) + static_cast<size_t>(col), static_cast<size_t>(count));
  block.Shift(place.Line, -static_cast<int64_t>(count));
  FTextBytes -= static_cast<size_t>(count);
  MergeAround(place.Block);
}

void TVKLineStore::AppendToBlock(TBlock& block, std::string_view line) {
  block.Text.Insert(block.Text.Size(), line);
  block.Ends.push_back(static_cast<uint32_t>(block.Text.Size()));
  ++FCount;
  FTextBytes += line.size();
}

void TVKLineStore::InsertLine(int index, std::string_view line) {
  if (index == FCount) {
    // Appending fills the last block and then starts the next one.
    const size_t weight = Weight(line.size(), 1);
    if (FBlocks.empty() ||
        Weight(FBlocks.back().Text.Size(), FBlocks.back().Ends.size()) + weight > FBlockBytes) {
      if (!FBlocks.empty()) {
        const TVKTextBuffer& full = FBlocks.back().Text;
        if (line.data() >= full.Data() && line.data() < full.Data() + full.Size()) {
          // The line is read from the block about to shrink.
          InsertLine(index, std::string(line));
          return;
        }
        // The full block gives back the room it grew into.
        FBlocks.back().Text.ShrinkToFit();
        FBlocks.back().Ends.shrink_to_fit();
      }
      FBlocks.emplace_back();
      FFirstLine.push_back(FCount);
    }
    AppendToBlock(FBlocks.back(), line);
    return;
  }
  InsertLines(index, {line});
}

void TVKLineStore::InsertLines(int index, const std::vector<std::string_view>& lines) {
  if (index == FCount) {
    for (const std::string_view line : lines)
      InsertLine(FCount, line);
    return;
  }
  TVKLineStore inserted;
  inserted.SetBlockBytes(FBlockBytes);
  inserted.InsertLines(0, lines);
  PutLines(index, std::move(inserted));
}

void TVKLineStore::DeleteLines(int index, int count) {
  TakeLines(index, count);
}

size_t TVKLineStore::CutBefore(int index) {
  if (index == FCount)
    return FBlocks.size();
  const TPlace place = Locate(index);
  if (place.Line == 0)
    return place.Block;
  TBlock& block = FBlocks[place.Block];
  const size_t cut = block.Start(place.Line);
  const size_t tailBytes = block.Text.Size() - cut;
  TBlock piece;
  size_t tail = 0;
  // The smaller side is copied into a block of its own; the larger stays where it is.
  if (tailBytes <= cut) {
    piece.Text.Insert(0, block.Text.View(cut, tailBytes));
    for (size_t i = static_cast<size_t>(place.Line); i < block.Ends.size(); ++i)
      piece.Ends.push_back(static_cast<uint32_t>(block.Ends[i] - cut));
    block.Text.Truncate(cut);
    block.Text.ShrinkToFit();
    block.Ends.resize(static_cast<size_t>(place.Line));
    tail = place.Block + 1;
    FBlocks.insert(FBlocks.begin() + static_cast<ptrdiff_t>(tail), std::move(piece));
  } else {
    piece.Text.Insert(0, block.Text.View(0, cut));
    piece.Ends.assign(block.Ends.begin(), block.Ends.begin() + place.Line);
    block.Text.Erase(0, cut);
    block.Ends.erase(block.Ends.begin(), block.Ends.begin() + place.Line);
    block.Shift(0, -static_cast<int64_t>(cut));
    tail = place.Block + 1;
    FBlocks.insert(FBlocks.begin() + static_cast<ptrdiff_t>(place.Block), std::move(piece));
  }
  Renumber(place.Block);
  return tail;
}

void TVKLineStore::Repack(size_t index) {
  TBlock& block = FBlocks[index];
  if (block.Lines() < 2 || Weight(block.Text.Size(), block.Ends.size()) <= FBlockBytes)
    return;
  // Greedy groups of whole lines, each within the block size unless a line alone is
  // larger.
  std::vector<std::pair<int, int>> groups; // first line, end line
  int first = 0;
  for (int line = 0; line < block.Lines(); ++line) {
    const size_t weight = Weight(block.Ends[static_cast<size_t>(line)] - block.Start(first),
                                 static_cast<size_t>(line - first + 1));
    if (line > first && weight > FBlockBytes) {
      groups.emplace_back(first, line);
      first = line;
    }
  }
  groups.emplace_back(first, block.Lines());
  const auto bytesOf = [&](const std::pair<int, int>& group) {
    return block.Start(group.second) - block.Start(group.first);
  };
  const size_t kept = static_cast<size_t>(
      std::max_element(groups.begin(), groups.end(),
                       [&](const auto& a, const auto& b) { return bytesOf(a) < bytesOf(b); }) -
      groups.begin());
  std::vector<TBlock> made(groups.size());
  for (size_t g = 0; g < groups.size(); ++g) {
    if (g == kept)
      continue;
    const size_t start = block.Start(groups[g].first);
    made[g].Text.Insert(0, block.Text.View(start, bytesOf(groups[g])));
    for (int line = groups[g].first; line < groups[g].second; ++line)
      made[g].Ends.push_back(static_cast<uint32_t>(block.Ends[static_cast<size_t>(line)] - start));
  }
  const size_t start = block.Start(groups[kept].first);
  block.Text.Truncate(block.Start(groups[kept].second));
  block.Text.Erase(0, start);
  block.Text.ShrinkToFit();
  block.Ends.erase(block.Ends.begin() + groups[kept].second, block.Ends.end());
  block.Ends.erase(block.Ends.begin(), block.Ends.begin() + groups[kept].first);
  block.Shift(0, -static_cast<int64_t>(start));
  made[kept] = std::move(block);
  FBlocks.erase(FBlocks.begin() + static_cast<ptrdiff_t>(index));
  FBlocks.insert(FBlocks.begin() + static_cast<ptrdiff_t>(index),
                 std::make_move_iterator(made.begin()), std::make_move_iterator(made.end()));
  Renumber(index);
}

void TVKLineStore::MergeWithNext(size_t index) {
  TBlock& block = FBlocks[index];
  TBlock& next = FBlocks[index + 1];
  const auto offset = static_cast<uint32_t>(block.Text.Size());
  block.Text.Insert(offset, next.Text.View(0, next.Text.Size()));
  for (const uint32_t end : next.Ends)
    block.Ends.push_back(end + offset);
  FBlocks.erase(FBlocks.begin() + static_cast<ptrdiff_t>(index + 1));
  Renumber(index);
}

void TVKLineStore::MergeAround(size_t index) {
  const auto weight = [&](size_t k) {
    return Weight(FBlocks[k].Text.Size(), FBlocks[k].Ends.size());
  };
  const auto mergeable = [&](size_t k) {
    return k + 1 < FBlocks.size() && weight(k) + weight(k + 1) <= FBlockBytes &&
           std::min(weight(k), weight(k + 1)) < FBlockBytes / 4 + 1;
  };
  if (index < FBlocks.size() && mergeable(index))
    MergeWithNext(index);
  if (index > 0 && index - 1 < FBlocks.size() && mergeable(index - 1))
    MergeWithNext(index - 1);
}

void TVKLineStore::SplitLine(int index, int col) {
  const TPlace place = Locate(index);
  TBlock& block = FBlocks[place.Block];
  block.Ends.insert(block.Ends.begin() + place.Line,
                    static_cast<uint32_t>(block.Start(place.Line) + static_cast<size_t>(col)));
  ++FCount;
  Renumber(place.Block + 1);
  Repack(place.Block);
}

void TVKLineStore::JoinLines(int index) {
  const TPlace place = Locate(index);
  TBlock& block = FBlocks[place.Block];
  if (place.Line + 1 < block.Lines()) {
    block.Ends.erase(block.Ends.begin() + place.Line);
  } else {
    // The next line starts the next block: the shorter of the two lines moves.
    TBlock& next = FBlocks[place.Block + 1];
    const std::string_view line = block.Line(place.Line);
    const std::string_view following = next.Line(0);
    if (following.size() > line.size()) {
      next.Text.Insert(0, line);
      next.Shift(0, static_cast<int64_t>(line.size()));
      block.Text.Truncate(block.Start(place.Line));
      block.Ends.pop_back();
    } else {
      block.Text.Insert(block.Text.Size(), following);
      block.Ends.back() += static_cast<uint32_t>(following.size());
      next.Text.Erase(0, following.size());
      next.Ends.erase(next.Ends.begin());
      next.Shift(0, -static_cast<int64_t>(following.size()));
    }
    for (size_t k = place.Block; k <= place.Block + 1; ++k)
      if (FBlocks[k].Ends.empty()) {
        FBlocks.erase(FBlocks.begin() + static_cast<ptrdiff_t>(k));
        break;
      }
  }
  --FCount;
  Renumber(place.Block);
  // The line that grew may be in either block; the later one is repacked first so
  // that the earlier index stays valid.
  if (place.Block + 1 < FBlocks.size())
    Repack(place.Block + 1);
  const size_t joined = std::min(place.Block, FBlocks.size() - 1);
  Repack(joined);
  MergeAround(joined);
}

TVKLineStore TVKLineStore::TakeLines(int index, int count) {
  TVKLineStore taken;
  taken.SetBlockBytes(FBlockBytes);
  if (count <= 0)
    return taken;
  const size_t first = CutBefore(index);
  const size_t end = CutBefore(index + count);
  taken.FBlocks.assign(std::make_move_iterator(FBlocks.begin() + static_cast<ptrdiff_t>(first)),
                       std::make_move_iterator(FBlocks.begin() + static_cast<ptrdiff_t>(end)));
  FBlocks.erase(FBlocks.begin() + static_cast<ptrdiff_t>(first),
                FBlocks.begin() + static_cast<ptrdiff_t>(end));
  taken.FCount = count;
  for (const TBlock& block : taken.FBlocks)
    taken.FTextBytes += block.Text.Size();
  taken.Renumber(0);
  FCount -= count;
  FTextBytes -= taken.FTextBytes;
  Renumber(first);
  MergeAround(first);
  return taken;
}

void TVKLineStore::PutLines(int index, TVKLineStore&& lines) {
  if (lines.Empty())
    return;
  const size_t first = CutBefore(index);
  const size_t added = lines.FBlocks.size();
  FBlocks.insert(FBlocks.begin() + static_cast<ptrdiff_t>(first),
                 std::make_move_iterator(lines.FBlocks.begin()),
                 std::make_move_iterator(lines.FBlocks.end()));
  FCount += lines.FCount;
  FTextBytes += lines.FTextBytes;
  lines.ReleaseAll();
  Renumber(first);
  MergeAround(first + added - 1);
  MergeAround(first);
}

TVKLineStore TVKLineStore::FromPieces(std::string_view text, size_t blockBytes) {
  TVKLineStore store;
  store.SetBlockBytes(blockBytes);
  ForEachPiece(text, [&](std::string_view piece) { store.InsertLine(store.Count(), piece); });
  return store;
}

std::string TVKLineStore::Joined() const {
  std::string text;
  text.reserve(FTextBytes + 2 * static_cast<size_t>(std::max(0, FCount - 1)));
  bool first = true;
  for (const TBlock& block : FBlocks)
    for (int line = 0; line < block.Lines(); ++line) {
      if (!first)
        text += "\r\n";
      first = false;
      text += block.Line(line);
    }
  return text;
}

size_t TVKLineStore::MemoryUsed() const {
  size_t bytes = FBlocks.capacity() * sizeof(TBlock) + FFirstLine.capacity() * sizeof(int);
  for (const TBlock& block : FBlocks)
    bytes += block.Text.Capacity() + block.Ends.capacity() * sizeof(uint32_t);
  return bytes;
}

TVKTextShape ShapeOfPieces(std::string_view text) {
  TVKTextShape shape{-1, 0};
  ForEachPiece(text, [&](std::string_view piece) {
    ++shape.Breaks;
    shape.LastLength = static_cast<int>(piece.size());
  });
  return shape;
}

} // namespace pelrow
