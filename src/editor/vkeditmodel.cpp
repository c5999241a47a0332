#include "editor/vkeditmodel.h"

#include "editor/vktextlayout.h"

#include <algorithm>

namespace pelrow {

namespace {
constexpr const char* LineBreak = "\r\n";
}

TVKEditModel::TVKEditModel(TVKEditView* view)
    : FView(view ? view : &FNoView), FClipboard(std::make_shared<TVKMemoryClipboard>()) {
  FLines.SetOwner(this);
}

TVKEditModel::~TVKEditModel() {
  FLines.SetOwner(nullptr);
}

void TVKEditModel::SetClipboard(std::shared_ptr<TVKClipboard> clipboard) {
  if (clipboard)
    FClipboard = std::move(clipboard);
}

void TVKEditModel::SetTabWidth(int width) {
  FTabWidth = width < 1 ? 1 : width;
  FColumnMark = {};
}

// --- Line store notifications ---------------------------------------------------------

void TVKEditModel::LinesChanging(TVKStrings&) {
  FView->ViewLinesChanging();
}

void TVKEditModel::LinesChangeEnded(TVKStrings& sender) {
  // Whoever hears of the change may read the caret's line, so the caret and selection
  // are brought inside the changed text before the view is told.
  const int first = sender.FirstChanged();
  if (first < 0 && first != TVKStrings::NothingChanged)
    ResetState();
  else if (first != TVKStrings::NothingChanged)
    FitStateToText();
  FView->ViewLinesChangeEnded();
}

void TVKEditModel::LinesChanged(TVKStrings&, int first, int last) {
  if (first < 0) {
    FView->ViewReset();
    FView->ViewRepaintAll();
    return;
  }
  FView->ViewLinesChanged(first, last);
}

void TVKEditModel::TextChanging(TVKStrings&, int line, int col) {
  if (FColumnMark.Line > line || (FColumnMark.Line == line && FColumnMark.Col > col))
    FColumnMark = {};
}

void TVKEditModel::MaxLineLengthChanged(TVKStrings&, int maxLineLength) {
  FView->ViewMaxLineLengthChanged(maxLineLength);
}

// --- Positions, caret and selection ---------------------------------------------------

TVKPos TVKEditModel::Clamp(TVKPos pos, bool keepColumn) const {
  if (FLines.Empty() || pos.Line < 0)
    return {};
  if (pos.Line >= FLines.Count()) {
    pos.Line = FLines.Count() - 1;
    if (!keepColumn)
      pos.Col = LineLength(pos.Line);
  }
  pos.Col = std::max(0, pos.Col);
  if (!keepColumn)
    pos.Col = std::min(pos.Col, LineLength(pos.Line));
  return pos;
}

TVKEditState TVKEditModel::State() const {
  return {FSelAvail ? 1 : 0, FAnchor.Col,  FAnchor.Line, FSelStart.Col, FSelStart.Line,
          FSelEnd.Col,       FSelEnd.Line, FCaret.Col,   FCaret.Line};
}

bool TVKEditModel::InSelection(TVKPos pos) const {
  return FSelAvail && !(pos < FSelStart) && pos < FSelEnd;
}

int TVKEditModel::CaretDisplayCol() const {
  if (FCaret.Line < 0 || FCaret.Line >= FLines.Count())
    return FCaret.Col;
  const std::string_view text = FLines[FCaret.Line];
  const int col = std::min(FCaret.Col, static_cast<int>(text.size()));
  const TColumnMark mark = FColumnMark;
  int display = 0;
  if (mark.Line == FCaret.Line && col >= mark.Col) {
    display = DisplayColumnFrom(text, mark.Col, mark.Display, col, FTabWidth);
  } else if (mark.Line == FCaret.Line && mark.Col - col < col &&
             text.substr(static_cast<size_t>(col), static_cast<size_t>(mark.Col - col))
                     .find('\t') == std::string_view::npos) {
    // Back over characters one column wide each.
    display = mark.Display - (mark.Col - col);
  } else {
    display = DisplayColumn(text, col, FTabWidth);
  }
  FColumnMark = {FCaret.Line, col, display};
  return display + (FCaret.Col - col);
}

void TVKEditModel::PlaceCaret(TVKPos pos) {
  const TVKPos old = FCaret;
  pos.Col = std::max(0, pos.Col);
  pos.Line = std::clamp(pos.Line, 0, std::max(0, FLines.Count() - 1));
  if (FLines.Empty())
    pos.Col = 0;
  else if (!FAllowCaretInWhiteSpace)
    pos.Col = std::min(pos.Col, LineLength(pos.Line));
  FCaret = pos;
  if (!FSelAvail)
    FSelStart = FCaret;
  FView->ViewRepaintLines(old.Line, old.Line);
  FView->ViewRepaintLines(FCaret.Line, FCaret.Line);
  FView->ViewCaretMoved();
}

void TVKEditModel::EndSelection() {
  if (FSelAvail)
    FView->ViewRepaintLines(FSelStart.Line, FSelEnd.Line);
  FSelAvail = false;
  FSelStart = FCaret;
  FSelEnd = {};
  FAnchor = {-1, -1};
}

void TVKEditModel::ResetState() {
  FCaret = {};
  EndSelection();
  FUndo.Clear();
}

void TVKEditModel::FitStateToText() {
  // The program may shorten the text under the caret. An emptied text has no blanks
  // for the caret to stand in, even where it may stand beyond a line's end.
  if (TextEmpty()) {
    FCaret = {};
    EndSelection();
    return;
  }
  FCaret = Clamp(FCaret, FAllowCaretInWhiteSpace);
  if (AnchorSet())
    FAnchor = Clamp(FAnchor);
  if (!FSelAvail) {
    FSelStart = FCaret;
    return;
  }
  FSelStart = Clamp(FSelStart);
  FSelEnd = Clamp(FSelEnd);
  if (!(FSelStart < FSelEnd))
    EndSelection();
}

void TVKEditModel::SetSelection(int col1, int line1, int col2, int line2) {
  FUndo.BreakTyping();
  TVKPos a = Clamp({col1, line1});
  TVKPos b = Clamp({col2, line2});
  if (a == b) {
    PlaceCaret(a);
    EndSelection();
    return;
  }
  if (b < a)
    std::swap(a, b);
  if (FSelAvail)
    FView->ViewRepaintLines(FSelStart.Line, FSelEnd.Line);
  FSelStart = a;
  FSelEnd = b;
  FSelAvail = true;
  FView->ViewRepaintLines(a.Line, b.Line);
}

void TVKEditModel::MoveCaret(int col, int line, bool makeVisible, bool shift) {
  FUndo.BreakTyping();
  const TVKPos pos = Clamp({col, line}, FAllowCaretInWhiteSpace);
  const int oldFirst = std::min(FCaret.Line, FSelAvail ? FSelStart.Line : FCaret.Line);
  const int oldLast = std::max(FCaret.Line, FSelAvail ? FSelEnd.Line : FCaret.Line);
  if (shift) {
    if (!(FSelAvail && AnchorSet()))
      FAnchor = FCaret;
    const TVKPos anchor = FAnchor;
    SetSelection(anchor.Col, anchor.Line, pos.Col, pos.Line);
    if (FSelAvail)
      FAnchor = anchor;
  } else if (FSelAvail) {
    EndSelection();
  }
  PlaceCaret(pos);
  FView->ViewRepaintLines(std::min(oldFirst, pos.Line), std::max(oldLast, pos.Line));
  if (makeVisible) {
    FView->ViewScrollCaretIntoView();
    FView->ViewShowCaret();
  }
}

void TVKEditModel::SelectAll() {
  if (FLines.Empty())
    return;
  const TVKPos end = LineEnd(FLines.Count() - 1);
  SetSelection(0, 0, end.Col, end.Line);
  if (!FSelAvail)
    return;
  FAnchor = {0, 0};
  PlaceCaret(end);
}

void TVKEditModel::SelectLines(int first, int last) {
  if (FLines.Empty())
    return;
  if (last < first)
    std::swap(first, last);
  const TVKPos start = Clamp({0, first});
  const TVKPos end = last + 1 < FLines.Count() ? TVKPos{0, last + 1} : LineEnd(FLines.Count() - 1);
  SetSelection(start.Col, start.Line, end.Col, end.Line);
  PlaceCaret(end);
  if (FSelAvail)
    FAnchor = start;
}

bool TVKEditModel::SelectWordAt(TVKPos pos) {
  pos = Clamp(pos);
  if (FLines.Empty())
    return false;
  const auto word = WordAt(FLines[pos.Line], pos.Col);
  if (!word)
    return false;
  SetSelection(word->Start, pos.Line, word->End, pos.Line);
  PlaceCaret({word->End, pos.Line});
  FAnchor = {word->Start, pos.Line};
  return true;
}

std::string TVKEditModel::SelText() const {
  if (!FSelAvail || FSelStart.Line >= FLines.Count())
    return {};
  const TVKPos end = FSelEnd.Line >= FLines.Count() ? LineEnd(FLines.Count() - 1) : FSelEnd;
  const std::string_view first = FLines[FSelStart.Line];
  const size_t startCol = std::min(static_cast<size_t>(FSelStart.Col), first.size());
  if (end.Line == FSelStart.Line)
    return std::string(first.substr(
        startCol, static_cast<size_t>(std::max(0, end.Col - static_cast<int>(startCol)))));
  std::string text(first.substr(startCol));
  for (int line = FSelStart.Line + 1; line < end.Line; ++line) {
    text += LineBreak;
    text += FLines[line];
  }
  text += LineBreak;
  text += FLines[end.Line].substr(0, static_cast<size_t>(end.Col));
  return text;
}

// --- Editing ---------------------------------------------------------------------------

void TVKEditModel::RecordUndo(TVKUndoKind kind, std::string_view text) {
  if (FReadOnly || text.empty())
    return;
  FUndo.Record(kind, text, State());
}

void TVKEditModel::AddLineIfEmpty() {
  if (FLines.Empty())
    FLines.Add({});
}

TVKPos TVKEditModel::EndOfText(TVKPos from, TVKTextShape shape) {
  if (shape.Breaks == 0)
    return {from.Col + shape.LastLength, from.Line};
  return {shape.LastLength, from.Line + shape.Breaks};
}

namespace {
// A removal within one line up to this size is copied; longer ones move blocks.
constexpr int CopiedRemoval = 4096;
} // namespace

// Lines are changed in place: an edit in a line of many megabytes moves only what
// follows the edit within that line, never a copy of the whole line.
TVKLineStore TVKEditModel::TakeText(TVKPos from, TVKPos to) {
  if (FLines.Empty())
    return {};
  from = Clamp(from);
  to = Clamp(to);
  if (to < from)
    std::swap(from, to);
  const TVKUpdateBracket bracket(FLines);
  if (from.Line == to.Line && to.Col - from.Col <= CopiedRemoval) {
    TVKLineStore removed;
    removed.InsertLine(0, FLines[from.Line].substr(static_cast<size_t>(from.Col),
                                                   static_cast<size_t>(to.Col - from.Col)));
    FLines.EraseInLine(from.Line, from.Col, to.Col - from.Col);
    return removed;
  }
  // Cut the text out as whole lines: break the lines at both ends, take the lines in
  // between and join what is left of the two ends.
  FLines.SplitLine(to.Line, to.Col);
  FLines.SplitLine(from.Line, from.Col);
  TVKLineStore removed = FLines.TakeLines(from.Line + 1, to.Line - from.Line + 1);
  FLines.JoinLines(from.Line);
  return removed;
}

TVKPos TVKEditModel::PutText(TVKPos at, TVKLineStore&& text) {
  const int count = text.Count();
  if (count == 0)
    return at;
  const TVKPos end = EndOfText(at, {count - 1, text.LineLength(count - 1)});
  const TVKUpdateBracket bracket(FLines);
  FLines.SplitLine(at.Line, at.Col);
  FLines.PutLines(at.Line + 1, std::move(text));
  FLines.JoinLines(at.Line + count);
  FLines.JoinLines(at.Line);
  return end;
}

TVKPos TVKEditModel::InsertAt(TVKPos at, std::string_view text) {
  if (text.find_first_of("\r\n") == std::string_view::npos) {
    FLines.InsertInLine(at.Line, at.Col, text);
    return {at.Col + static_cast<int>(text.size()), at.Line};
  }
  return PutText(at, TVKLineStore::FromPieces(text, FLines.BlockBytes()));
}

void TVKEditModel::DeleteSelectedText(bool record) {
  if (!FSelAvail)
    return;
  if (record)
    BeginUndoStep();
  const TVKPos start = FSelStart;
  const TVKPos end = FSelEnd;
  TVKLineStore removed;
  {
    const TVKUpdateBracket bracket(FLines);
    removed = TakeText(start, end);
    FSelAvail = false;
    PlaceCaret(start);
    EndSelection();
  }
  if (record && !FReadOnly)
    FUndo.RecordDeleted(std::move(removed), State());
  FView->ViewRepaintAll();
}

void TVKEditModel::InsertText(std::string_view text, int col, int line, bool record, bool select) {
  if (text.empty())
    return;
  std::string padded;
  {
    const TVKUpdateBracket bracket(FLines);
    AddLineIfEmpty();
    line = std::max(0, line);
    if (line >= FLines.Count()) {
      line = FLines.Count() - 1;
      col = LineLength(line);
    }
    col = std::max(0, col);
    const int length = LineLength(line);
    if (col > length) {
      // The blanks up to the column go in with the text, so that undo takes them too.
      if (FAllowCaretInWhiteSpace) {
        padded.assign(static_cast<size_t>(col - length), ' ');
        padded += text;
        text = padded;
      }
      col = length;
    }
    PlaceCaret({col, line});
    if (record)
      BeginUndoStep();
    const TVKPos start{col, line};
    const TVKPos end = InsertAt(start, text);
    if (select) {
      SetSelection(start.Col, start.Line, end.Col, end.Line);
      FAnchor = start;
    }
    PlaceCaret(end);
  }
  if (record)
    RecordUndo(TVKUndoKind::ukInserted, text);
  FView->ViewScrollCaretIntoView();
  FView->ViewRepaintAll();
}

void TVKEditModel::AppendText(std::string_view text) {
  {
    const TVKUpdateBracket bracket(FLines);
    AddLineIfEmpty();
    const int last = FLines.Count() - 1;
    InsertText(text, LineLength(last), last, false, false);
  }
  ClearUndo();
}

void TVKEditModel::CopyToClipboard() {
  if (FSelAvail)
    FClipboard->SetText(SelText());
}

void TVKEditModel::CutToClipboard() {
  if (!FSelAvail || FReadOnly)
    return;
  const std::string text = SelText();
  DeleteSelectedText(true);
  FClipboard->SetText(text);
}

void TVKEditModel::PasteFromClipboard() {
  if (FReadOnly)
    return;
  const std::string text = FClipboard->Text();
  if (text.empty())
    return;
  DeleteSelectedText(true);
  InsertText(text, FCaret.Col, FCaret.Line, true, false);
}

void TVKEditModel::TypeChar(char c) {
  const auto code = static_cast<unsigned char>(c);
  if (FReadOnly || ((code < 32 || code == 127) && c != '\t'))
    return;
  DeleteSelectedText(true);
  std::string typed(1, c);
  {
    const TVKUpdateBracket bracket(FLines);
    AddLineIfEmpty();
    FCaret = Clamp(FCaret, FAllowCaretInWhiteSpace);
    const int length = LineLength(FCaret.Line);
    if (FCaret.Col > length) {
      // The blanks up to the caret are typed with the character, so undo takes them too.
      if (FAllowCaretInWhiteSpace)
        typed.insert(0, static_cast<size_t>(FCaret.Col - length), ' ');
      PlaceCaret(LineEnd(FCaret.Line));
    }
    BeginUndoStep();
    FLines.InsertInLine(FCaret.Line, FCaret.Col, typed);
    PlaceCaret({FCaret.Col + static_cast<int>(typed.size()), FCaret.Line});
  }
  RecordUndo(TVKUndoKind::ukTyped, typed);
}

void TVKEditModel::KeyEnter() {
  if (FReadOnly)
    return;
  DeleteSelectedText(true);
  {
    const TVKUpdateBracket bracket(FLines);
    AddLineIfEmpty();
    FCaret = Clamp(FCaret, FAllowCaretInWhiteSpace);
    // Beyond the line's end the break goes at the end: no blanks are invented, so
    // redoing it gives the same text.
    if (FCaret.Col > LineLength(FCaret.Line))
      PlaceCaret(LineEnd(FCaret.Line));
    BeginUndoStep();
    const int line = FCaret.Line;
    const int cut = FCaret.Col;
    FLines.SplitLine(line, cut);
    PlaceCaret({0, line + 1});
  }
  RecordUndo(TVKUndoKind::ukTyped, LineBreak);
}

void TVKEditModel::KeyDelete(bool shift) {
  if (FReadOnly)
    return;
  if (FSelAvail) {
    if (shift)
      CutToClipboard();
    else
      DeleteSelection();
    return;
  }
  if (FLines.Empty() || FCaret.Line >= FLines.Count())
    return;
  const int line = FCaret.Line;
  const int length = LineLength(line);
  if (FCaret.Col >= length) {
    if (line + 1 >= FLines.Count())
      return;
    // Joining at the line's end keeps the undo record exact (no blanks are invented).
    PlaceCaret({length, line});
    BeginUndoStep();
    RecordUndo(TVKUndoKind::ukDeleted, LineBreak);
    FLines.JoinLines(line);
  } else {
    BeginUndoStep();
    RecordUndo(TVKUndoKind::ukDeleted, std::string(1, FLines[line][FCaret.Col]));
    FLines.EraseInLine(line, FCaret.Col, 1);
  }
}

void TVKEditModel::KeyBackspace() {
  if (FReadOnly || FLines.Empty())
    return;
  // A selection is removed wherever the caret stands within it.
  if (FSelAvail) {
    DeleteSelection();
    return;
  }
  if (FCaret == TVKPos{} || FCaret.Line >= FLines.Count())
    return;
  if (FCaret.Col > LineLength(FCaret.Line))
    PlaceCaret(LineEnd(FCaret.Line));
  // From blanks beyond an empty first line the caret comes to 0,0: nothing to remove.
  const int line = FCaret.Line;
  if (FCaret.Col > 0) {
    BeginUndoStep();
    const int col = FCaret.Col - 1;
    const std::string removed(1, FLines[line][col]);
    {
      const TVKUpdateBracket bracket(FLines);
      PlaceCaret({col, line});
      FLines.EraseInLine(line, col, 1);
    }
    RecordUndo(TVKUndoKind::ukDeleted, removed);
  } else if (line > 0) {
    BeginUndoStep();
    {
      const TVKUpdateBracket bracket(FLines);
      PlaceCaret(LineEnd(line - 1));
      FLines.JoinLines(line - 1);
    }
    RecordUndo(TVKUndoKind::ukDeleted, LineBreak);
  }
}

// --- Navigation ------------------------------------------------------------------------

void TVKEditModel::KeyLeft(bool ctrl, bool shift) {
  if (FLines.Empty())
    return;
  const TVKPos caret = Clamp(FCaret, true);
  if (ctrl) {
    if (const auto start = WordStartBefore(FLines[caret.Line], caret.Col))
      MoveTo({*start, caret.Line}, shift);
    else if (caret.Line > 0)
      MoveTo(LineEnd(caret.Line - 1), shift);
    return;
  }
  if (caret.Col > 0)
    MoveTo({caret.Col - 1, caret.Line}, shift);
  else if (caret.Line > 0)
    MoveTo(LineEnd(caret.Line - 1), shift);
}

void TVKEditModel::KeyRight(bool ctrl, bool shift) {
  if (FLines.Empty())
    return;
  const TVKPos caret = Clamp(FCaret, true);
  const int length = LineLength(caret.Line);
  const bool wrap = caret.Col >= length && (ctrl || !FAllowCaretInWhiteSpace);
  if (wrap) {
    if (caret.Line + 1 < FLines.Count())
      MoveTo({0, caret.Line + 1}, shift);
    else
      MoveTo({length, caret.Line}, shift);
  } else if (ctrl) {
    MoveTo({NextWordStart(FLines[caret.Line], caret.Col), caret.Line}, shift);
  } else {
    MoveTo({caret.Col + 1, caret.Line}, shift);
  }
}

void TVKEditModel::KeyHome(bool ctrl, bool shift) {
  if (!FLines.Empty())
    MoveTo({0, ctrl ? 0 : FCaret.Line}, shift);
}

void TVKEditModel::KeyEnd(bool ctrl, bool shift) {
  if (!FLines.Empty())
    MoveTo(LineEnd(ctrl ? FLines.Count() - 1 : std::min(FCaret.Line, FLines.Count() - 1)), shift);
}

void TVKEditModel::KeyVertical(int delta, bool shift) {
  if (FLines.Empty())
    return;
  const int line = std::clamp(FCaret.Line + delta, 0, FLines.Count() - 1);
  const int col = ColumnAtDisplay(FLines[line], CaretDisplayCol(), FTabWidth);
  MoveCaret(col, line, true, shift);
}

// --- Drag and drop ---------------------------------------------------------------------

bool TVKEditModel::DropSelection(TVKPos pos, bool copy) {
  if (!FSelAvail || FReadOnly)
    return false;
  pos = Clamp(pos);
  if (InSelection(pos))
    return false;
  const std::string text = SelText();
  if (!copy) {
    // Where the drop point lies once the selection is gone.
    const TVKPos start = FSelStart;
    const TVKPos end = FSelEnd;
    if (end < pos || end == pos) {
      if (pos.Line == end.Line)
        pos = {start.Col + (pos.Col - end.Col), start.Line};
      else
        pos.Line -= end.Line - start.Line;
    }
    DeleteSelectedText(true);
  }
  InsertText(text, pos.Col, pos.Line, true, true);
  return true;
}

// --- Undo ------------------------------------------------------------------------------

void TVKEditModel::RestoreState(const TVKEditState& state) {
  FSelAvail = false;
  FCaret = Clamp({state.CaretCol, state.CaretLine}, FAllowCaretInWhiteSpace);
  EndSelection();
  if (state.SelAvail) {
    SetSelection(state.StartCol, state.StartLine, state.EndCol, state.EndLine);
    if (FSelAvail && state.AnchorLine >= 0)
      FAnchor = Clamp({state.AnchorCol, state.AnchorLine});
  }
  PlaceCaret({state.CaretCol, state.CaretLine});
  FView->ViewScrollCaretIntoView();
  FView->ViewRepaintAll();
}

TVKPos TVKEditModel::PlaceForText(TVKPos pos) {
  AddLineIfEmpty();
  return Clamp(pos);
}

void TVKEditModel::Undo() {
  if (FReadOnly)
    return;
  TVKUndoBlock* block = FUndo.StepBack();
  if (!block)
    return;
  {
    const TVKUpdateBracket bracket(FLines);
    if (block->Kind == TVKUndoKind::ukDeleted) {
      PutText(PlaceForText({block->After.CaretCol, block->After.CaretLine}),
              std::move(block->Text));
    } else {
      // The text went in at the caret of the before state (a drop keeps the dragged
      // selection elsewhere, so the selection start does not mark the insertion).
      const TVKPos from{block->Before.CaretCol, block->Before.CaretLine};
      block->Text = TakeText(from, EndOfText(from, block->Shape));
    }
  }
  RestoreState(block->Before);
}

void TVKEditModel::Redo() {
  if (FReadOnly)
    return;
  TVKUndoBlock* block = FUndo.StepForward();
  if (!block)
    return;
  {
    const TVKUpdateBracket bracket(FLines);
    if (block->Kind == TVKUndoKind::ukDeleted) {
      // A deletion leaves the caret where the removed text began (Backspace included).
      const TVKPos from{block->After.CaretCol, block->After.CaretLine};
      block->Text = TakeText(from, EndOfText(from, block->Shape));
    } else {
      PutText(PlaceForText({block->Before.CaretCol, block->Before.CaretLine}),
              std::move(block->Text));
    }
  }
  RestoreState(block->After);
}

} // namespace pelrow
