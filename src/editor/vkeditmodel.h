// The editor's text model: the line store, caret, selection and anchor, the editing
// operations (insert, delete, typing, Enter, Delete, Backspace, clipboard commands,
// navigation) and the undo ring. It runs without a display; the widget implements
// TVKEditView to repaint and scroll and feeds keys and mouse positions in here.
#pragma once

#include "editor/vkclipboard.h"
#include "editor/vkstrings.h"
#include "editor/vkundo.h"

#include <memory>
#include <string>
#include <string_view>

namespace pelrow {

struct TVKPos {
  int Col = 0;
  int Line = 0;
  bool operator==(const TVKPos&) const = default;
  // Positions order by line, then column.
  bool operator<(const TVKPos& other) const {
    return Line != other.Line ? Line < other.Line : Col < other.Col;
  }
};

// What the model asks of whatever shows it. Everything may be ignored.
class TVKEditView {
public:
  virtual ~TVKEditView() = default;
  virtual void ViewLinesChanging() {}
  virtual void ViewLinesChangeEnded() {}
  // The whole text was replaced: scroll to the top left and forget the widest caret.
  virtual void ViewReset() {}
  // Lines first..last changed (last -1: to the end).
  virtual void ViewLinesChanged(int /*first*/, int /*last*/) {}
  virtual void ViewMaxLineLengthChanged(int /*maxLineLength*/) {}
  // Repaint lines first..last if they are on screen.
  virtual void ViewRepaintLines(int /*first*/, int /*last*/) {}
  virtual void ViewRepaintAll() {}
  virtual void ViewScrollCaretIntoView() {}
  virtual void ViewShowCaret() {}
  virtual void ViewCaretMoved() {}
};

class TVKEditModel final : private TVKStringsOwner {
public:
  explicit TVKEditModel(TVKEditView* view = nullptr);
  ~TVKEditModel() override;
  TVKEditModel(const TVKEditModel&) = delete;
  TVKEditModel& operator=(const TVKEditModel&) = delete;

  TVKStrings& Lines() { return FLines; }
  const TVKStrings& Lines() const { return FLines; }
  void SetLines(const TVKStrings& lines) { FLines.Assign(lines); }
  // Takes the lines over without copying them (a text prepared elsewhere).
  void SetLines(TVKStrings&& lines) { FLines.Assign(std::move(lines)); }

  void SetClipboard(std::shared_ptr<TVKClipboard> clipboard);
  TVKClipboard& Clipboard() { return *FClipboard; }

  bool ReadOnly() const { return FReadOnly; }
  void SetReadOnly(bool value) { FReadOnly = value; }
  bool AllowCaretInWhiteSpace() const { return FAllowCaretInWhiteSpace; }
  void SetAllowCaretInWhiteSpace(bool value) { FAllowCaretInWhiteSpace = value; }
  int UndoSize() const { return FUndo.Size(); }
  void SetUndoSize(int size) { FUndo.Resize(size); }
  int TabWidth() const { return FTabWidth; }
  void SetTabWidth(int width);

  // Caret, selection and anchor.
  TVKPos Caret() const { return FCaret; }
  bool SelAvail() const { return FSelAvail; }
  TVKPos SelStart() const { return FSelStart; }
  TVKPos SelEnd() const { return FSelEnd; }
  int SelStartLine() const { return FSelStart.Line; }
  TVKPos Anchor() const { return FAnchor; }
  bool AnchorSet() const { return FAnchor.Line >= 0; }
  std::string SelText() const;
  TVKEditState State() const;
  bool InSelection(TVKPos pos) const;
  // Display column of the caret. Only the characters between the caret and where it
  // stood when last asked are laid out, so typing in a long line stays cheap.
  int CaretDisplayCol() const;

  // Positions outside the text are brought inside it.
  TVKPos Clamp(TVKPos pos, bool keepColumn = false) const;
  void SetSelection(int col1, int line1, int col2, int line2);
  void MoveCaret(int col, int line, bool makeVisible, bool shift);
  void SelectAll();
  void SelectLines(int first, int last); // whole lines, through the start of the next
  bool SelectWordAt(TVKPos pos);

  void Clear() { FLines.Clear(); }
  void AppendText(std::string_view text);
  void InsertText(std::string_view text, int col, int line, bool record, bool select);
  void DeleteSelection() { DeleteSelectedText(true); }
  void CopyToClipboard();
  void CutToClipboard();
  void PasteFromClipboard();

  // Keyboard edits; they do nothing on a read-only text.
  void TypeChar(char c);
  void KeyEnter();
  void KeyDelete(bool shift);
  void KeyBackspace();

  // Navigation keys; they do nothing when there are no lines.
  void KeyLeft(bool ctrl, bool shift);
  void KeyRight(bool ctrl, bool shift);
  void KeyHome(bool ctrl, bool shift);
  void KeyEnd(bool ctrl, bool shift);
  // Moves the caret by delta lines, keeping its display column.
  void KeyVertical(int delta, bool shift);

  // Moves or copies the selection to pos (a drop); false when pos is inside it.
  bool DropSelection(TVKPos pos, bool copy);

  void Undo();
  void Redo();
  bool CanUndo() const { return !FReadOnly && FUndo.UndoCount() > 0; }
  bool CanRedo() const { return !FReadOnly && FUndo.RedoCount() > 0; }
  void ClearUndo() { FUndo.Clear(); }
  const TVKUndoRing& UndoRing() const { return FUndo; }

private:
  void LinesChanging(TVKStrings& sender) override;
  void LinesChangeEnded(TVKStrings& sender) override;
  void LinesChanged(TVKStrings& sender, int first, int last) override;
  void MaxLineLengthChanged(TVKStrings& sender, int maxLineLength) override;
  void TextChanging(TVKStrings& sender, int line, int col) override;

  void PlaceCaret(TVKPos pos);
  void EndSelection();
  // After the whole text was replaced: caret to the start, no selection, no history.
  void ResetState();
  // After lines changed: caret, selection and anchor brought back inside the text.
  void FitStateToText();
  bool TextEmpty() const { return FLines.Empty() || (FLines.Count() == 1 && LineLength(0) == 0); }
  void RestoreState(const TVKEditState& state);
  void BeginUndoStep() { FUndo.BeginStep(State()); }
  void RecordUndo(TVKUndoKind kind, std::string_view text);
  void DeleteSelectedText(bool record);
  // Moves the text between two positions out of the lines without recording; whole
  // blocks of lines move rather than being copied.
  TVKLineStore TakeText(TVKPos from, TVKPos to);
  void RemoveRange(TVKPos from, TVKPos to) { TakeText(from, to); }
  // Moves lines in at a position inside the text without recording (the first joins
  // the text before the position, the last the text after it); returns their end.
  TVKPos PutText(TVKPos at, TVKLineStore&& text);
  // Puts text in at a position inside the text without recording; returns its end.
  TVKPos InsertAt(TVKPos at, std::string_view text);
  // End position of text of the given shape inserted at from.
  static TVKPos EndOfText(TVKPos from, TVKTextShape shape);
  // Where an undo or redo puts text back, brought inside the text.
  TVKPos PlaceForText(TVKPos pos);
  void AddLineIfEmpty();
  int LineLength(int line) const { return FLines.LineLength(line); }
  TVKPos LineEnd(int line) const { return {LineLength(line), line}; }
  void MoveTo(TVKPos pos, bool shift) { MoveCaret(pos.Col, pos.Line, true, shift); }

  TVKStrings FLines;
  TVKEditView* FView;
  TVKEditView FNoView;
  std::shared_ptr<TVKClipboard> FClipboard;
  TVKUndoRing FUndo;
  bool FReadOnly = false;
  bool FAllowCaretInWhiteSpace = false;
  int FTabWidth = 8;
  TVKPos FCaret;
  bool FSelAvail = false;
  TVKPos FSelStart;
  TVKPos FSelEnd;
  TVKPos FAnchor{-1, -1};

  // A stored column whose display column is known, valid while the text before it in
  // its line stays as it was.
  struct TColumnMark {
    int Line = -1;
    int Col = 0;
    int Display = 0;
  };
  mutable TColumnMark FColumnMark;
};

} // namespace pelrow
