// The editor's undo history: a ring of UndoSize blocks, each holding one edit (the
// text removed or inserted and the caret and selection before and after it). Typed
// characters merge into the previous block while the user keeps typing one word.
// A block holds the text only while it is out of the lines: a deletion until it is
// undone, an insertion once it is undone. Undo and redo move that text between the
// block and the lines, so clearing a large box and undoing it copy nothing.
#pragma once

#include "editor/vklinestore.h"

#include <string>
#include <string_view>
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
  TVKLineStore Text;  // the text while it is out of the lines, one entry per line
  TVKTextShape Shape; // line breaks in the text and the length of its last line
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
  // the user simply kept typing. With no slots nothing is kept. The text of an
  // insertion is in the lines and only its shape is kept.
  void Record(TVKUndoKind kind, std::string_view text, const TVKEditState& after);
  // Completes a deletion whose removed lines the block takes over.
  void RecordDeleted(TVKLineStore&& removed, const TVKEditState& after);

  // The block to undo, or nullptr; moves the ring one step back. Its text moves
  // between it and the lines.
  TVKUndoBlock* StepBack();
  // The block to redo, or nullptr; moves the ring one step forward.
  TVKUndoBlock* StepForward();

private:
  int Wrap(int index) const { return (index % Size() + Size()) % Size(); }
  bool MergesIntoPrevious(const TVKUndoBlock& previous, const TVKUndoBlock& next) const;
  void Complete(TVKUndoBlock next);

  std::vector<TVKUndoBlock> FBlocks;
  TVKEditState FPendingBefore;
  bool FTypingBroken = false;
  int FIndex = 0;
  int FUndoCount = 0;
  int FRedoCount = 0;
};

} // namespace pelrow
