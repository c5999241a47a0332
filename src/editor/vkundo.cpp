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
    std::string().swap(block.Text);
  FIndex = FUndoCount = FRedoCount = 0;
}

bool TVKUndoRing::MergesIntoPrevious(const TVKUndoBlock& previous, const TVKUndoBlock& next) const {
  return next.Kind == TVKUndoKind::ukTyped && !FTypingBroken && FUndoCount > 0 &&
         previous.Kind == TVKUndoKind::ukTyped && !next.EndsWithBreak && !previous.EndsWithBreak &&
         !(!previous.Whitespace && next.Whitespace) && next.Before == previous.After;
}

void TVKUndoRing::Record(TVKUndoKind kind, const std::string& text, const TVKEditState& after) {
  if (text.empty() || FBlocks.empty())
    return;
  TVKUndoBlock next{kind, text, FPendingBefore, after, false, false};
  if (kind == TVKUndoKind::ukTyped) {
    const char last = text.back();
    next.EndsWithBreak = IsBreak(last);
    next.Whitespace = static_cast<unsigned char>(last) <= 32 && !next.EndsWithBreak;
  }
  FRedoCount = 0;
  const bool merges = MergesIntoPrevious(FBlocks[static_cast<size_t>(Wrap(FIndex - 1))], next);
  FTypingBroken = false;
  TVKUndoBlock& previous = FBlocks[static_cast<size_t>(Wrap(FIndex - 1))];
  if (merges) {
    previous.Text += next.Text;
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

const TVKUndoBlock* TVKUndoRing::StepBack() {
  if (FUndoCount == 0 || FBlocks.empty())
    return nullptr;
  --FUndoCount;
  ++FRedoCount;
  FIndex = Wrap(FIndex - 1);
  return &FBlocks[static_cast<size_t>(FIndex)];
}

const TVKUndoBlock* TVKUndoRing::StepForward() {
  if (FRedoCount == 0 || FBlocks.empty())
    return nullptr;
  --FRedoCount;
  ++FUndoCount;
  const TVKUndoBlock* block = &FBlocks[static_cast<size_t>(FIndex)];
  FIndex = Wrap(FIndex + 1);
  return block;
}

} // namespace pelrow
