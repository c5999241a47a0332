// The editor's undo history: a ring of UndoSize blocks, each holding one edit (the
// text removed or inserted and the caret and selection before and after it). Typed
// characters merge into the previous block while the user keeps typing one word.
#pragma once

#include <string>
#include <vector>

namespace pelrow {

// Snapshot of caret and selection; fields in the order the history stores them.
struct TVKEditState {
  int SelAvail = 0;
  int AnchorCol = -1;
  int AnchorLine = -1;
  int StartCol = 0;
  int StartLine = 0;
  int EndCol = 0;
  int EndLine = 0;
  int CaretCol = 0;
  int CaretLine = 0;
  bool operator==(const TVKEditState&) const = default;
};

enum class TVKUndoKind {
  ukDeleted = 0,  // text was removed
  ukInserted = 1, // text was inserted as a block (paste, drop, programmatic insert)
  ukTyped = 2,    // text was typed or Enter was pressed
};

struct TVKUndoBlock {
  TVKUndoKind Kind = TVKUndoKind::ukDeleted;
  std::string Text; // line breaks as CR LF
  TVKEditState Before;
  TVKEditState After;
  bool Whitespace = false;    // last typed character is a blank or control code, not a break
  bool EndsWithBreak = false; // last character is CR or LF
};

class TVKUndoRing {
public:
  explicit TVKUndoRing(int size = 20) { Resize(size); }

  int Size() const { return static_cast<int>(FBlocks.size()); }
  // Recreates the ring empty; negative sizes are ignored.
  void Resize(int size);
  void Clear();

  int UndoCount() const { return FUndoCount; }
  int RedoCount() const { return FRedoCount; }
  int Index() const { return FIndex; }

  // Caret and selection just before an edit.
  void BeginStep(const TVKEditState& before) { FPendingBefore = before; }
  // The caret was moved by the user: the next typed text starts a step of its own
  // even when the caret came back to where typing stopped.
  void BreakTyping() { FTypingBroken = true; }
  // Completes the edit begun last, merging typed text into the previous block when
  // the user simply kept typing. With no slots nothing is kept.
  void Record(TVKUndoKind kind, const std::string& text, const TVKEditState& after);

  // The block to undo, or nullptr; moves the ring one step back.
  const TVKUndoBlock* StepBack();
  // The block to redo, or nullptr; moves the ring one step forward.
  const TVKUndoBlock* StepForward();

private:
  int Wrap(int index) const { return (index % Size() + Size()) % Size(); }
  bool MergesIntoPrevious(const TVKUndoBlock& previous, const TVKUndoBlock& next) const;

  std::vector<TVKUndoBlock> FBlocks;
  TVKEditState FPendingBefore;
  bool FTypingBroken = false;
  int FIndex = 0;
  int FUndoCount = 0;
  int FRedoCount = 0;
};

} // namespace pelrow
