#include "editor/vkundo.h"

namespace pelrow {

namespace {
bool IsBreak(char c) {
  return c == '\r' || c == '\n';
}
} // namespace

void TVKUndoRing::Resize(int size) {
  if (size < 0)
    return;
  FBlocks.assign(static_cast<size_t>(size), TVKUndoBlock{});
  FIndex = FUndoCount = FRedoCount = 0;
  FTypingBroken = false;
}

void TVKUndoRing::Clear() {
  for (TVKUndoBlock& block : FBlocks)
    block.Text = TVKLineStore();
  FIndex = FUndoCount = FRedoCount = 0;
}

bool TVKUndoRing::MergesIntoPrevious(const TVKUndoBlock& previous, const TVKUndoBlock& next) const {
  return next.Kind == TVKUndoKind::ukTyped && !FTypingBroken && FUndoCount > 0 &&
         previous.Kind == TVKUndoKind::ukTyped && !next.EndsWithBreak && !previous.EndsWithBreak &&
         !(!previous.Whitespace && next.Whitespace) && next.Before == previous.After;
}

void TVKUndoRing::Record(TVKUndoKind kind, std::string_view text, const TVKEditState& after) {
  if (text.empty() || FBlocks.empty())
    return;
  TVKUndoBlock next{kind, {}, ShapeOfPieces(text), FPendingBefore, after, false, false};
  if (kind == TVKUndoKind::ukDeleted)
    next.Text = TVKLineStore::FromPieces(text);
  if (kind == TVKUndoKind::ukTyped) {
    const char last = text.back();
    next.EndsWithBreak = IsBreak(last);
    next.Whitespace = static_cast<unsigned char>(last) <= 32 && !next.EndsWithBreak;
  }
  Complete(std::move(next));
}

void TVKUndoRing::RecordDeleted(TVKLineStore&& removed, const TVKEditState& after) {
  const int lines = removed.Count();
  if (FBlocks.empty() || lines == 0 || (lines == 1 && removed.TextBytes() == 0))
    return;
  const TVKTextShape shape{lines - 1, removed.LineLength(lines - 1)};
  Complete(
      {TVKUndoKind::ukDeleted, std::move(removed), shape, FPendingBefore, after, false, false});
}

void TVKUndoRing::Complete(TVKUndoBlock next) {
  FRedoCount = 0;
  const bool merges = MergesIntoPrevious(FBlocks[static_cast<size_t>(Wrap(FIndex - 1))], next);
  FTypingBroken = false;
  TVKUndoBlock& previous = FBlocks[static_cast<size_t>(Wrap(FIndex - 1))];
  if (merges) {
    // Typed text is in the lines; only where it ends changes.
    if (next.Shape.Breaks > 0)
      previous.Shape = {previous.Shape.Breaks + next.Shape.Breaks, next.Shape.LastLength};
    else
      previous.Shape.LastLength += next.Shape.LastLength;
    previous.After = next.After;
    previous.Whitespace = next.Whitespace;
    previous.EndsWithBreak = next.EndsWithBreak;
    return;
  }
  FBlocks[static_cast<size_t>(FIndex)] = std::move(next);
  if (FUndoCount < Size())
    ++FUndoCount;
  FIndex = Wrap(FIndex + 1);
}

TVKUndoBlock* TVKUndoRing::StepBack() {
  if (FUndoCount == 0 || FBlocks.empty())
    return nullptr;
  --FUndoCount;
  ++FRedoCount;
  FIndex = Wrap(FIndex - 1);
  return &FBlocks[static_cast<size_t>(FIndex)];
}

TVKUndoBlock* TVKUndoRing::StepForward() {
  if (FRedoCount == 0 || FBlocks.empty())
    return nullptr;
  --FRedoCount;
  ++FUndoCount;
  TVKUndoBlock* block = &FBlocks[static_cast<size_t>(FIndex)];
  FIndex = Wrap(FIndex + 1);
  return block;
}

} // namespace pelrow
