// The multi-line plain-text editor behind the Out and In boxes and both action logs.
// It paints only the lines on screen from a fixed-pitch character grid, so a box of a
// million lines stays instant. TVKCustomMemo holds all behaviour; TVeskMemo is the
// face the windows use. Text is 8-bit, one byte per column, shown as Latin-1.
#pragma once

#include "editor/qt/vkenvironment.h"
#include "editor/qt/vkgutter.h"
#include "editor/vkeditmodel.h"
#include "editor/vklayoutcache.h"
#include "editor/vkmousedrag.h"
#include "editor/vkscroll.h"
#include "support/clock.h"

#include <QAbstractScrollArea>
#include <QFont>
#include <QList>
#include <QPointF>
#include <QRawFont>

#include <array>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace pelrow {

class TVKDropList;

enum class TVKScrolls { sbNone, sbBoth, sbHorizontal, sbVertical };
enum class TVKBorderStyle { bsNone, bsSingle };

class TVKCustomMemo : public QAbstractScrollArea, private TVKEditView {
  Q_OBJECT
public:
  // timers makes the blink, auto-scroll and deferred-refresh timers (Qt timers when
  // empty); clipboard is the desktop clipboard when null.
  explicit TVKCustomMemo(QWidget* parent = nullptr, TTimerFactory timers = {},
                         std::shared_ptr<TVKClipboard> clipboard = nullptr);
  ~TVKCustomMemo() override;

  // --- Text -----------------------------------------------------------------
  TVKStrings& Lines() { return FModel.Lines(); }
  const TVKStrings& Lines() const { return FModel.Lines(); }
  void SetLines(const TVKStrings& lines) { FModel.SetLines(lines); }
  TVKEditModel& Model() { return FModel; }
  const TVKEditModel& Model() const { return FModel; }

  bool SelAvail() const { return FModel.SelAvail(); }
  std::string SelText() const { return FModel.SelText(); }
  int SelStartLine() const { return FModel.SelStartLine(); }
  TVKPos Caret() const { return FModel.Caret(); }

  void Clear() { FModel.Clear(); }
  void SelectAll() { FModel.SelectAll(); }
  void CopyToClipboard() { FModel.CopyToClipboard(); }
  void CutToClipboard() { FModel.CutToClipboard(); }
  void PasteFromClipboard() { FModel.PasteFromClipboard(); }
  void DeleteSelection() { FModel.DeleteSelection(); }
  // The clipboard the box copies to and pastes from.
  TVKClipboard& Clipboard() { return FModel.Clipboard(); }
  void SetClipboard(std::shared_ptr<TVKClipboard> clipboard);
  void AppendText(std::string_view text) { FModel.AppendText(text); }
  void InsertText(std::string_view text, int col, int line, bool record, bool select) {
    FModel.InsertText(text, col, line, record, select);
  }
  void SetSelection(int col1, int line1, int col2, int line2) {
    FModel.SetSelection(col1, line1, col2, line2);
  }
  void MoveCaret(int col, int line, bool makeVisible, bool shift) {
    FModel.MoveCaret(col, line, makeVisible, shift);
  }
  void Undo() { FModel.Undo(); }
  void Redo() { FModel.Redo(); }
  bool CanUndo() const { return FModel.CanUndo(); }
  bool CanRedo() const { return FModel.CanRedo(); }
  void ClearUndo() { FModel.ClearUndo(); }

  // --- Editing properties ---------------------------------------------------------
  bool ReadOnly() const { return FModel.ReadOnly(); }
  void SetReadOnly(bool value);
  int UndoSize() const { return FModel.UndoSize(); }
  void SetUndoSize(int value) { FModel.SetUndoSize(value); }
  bool AllowCaretInWhiteSpace() const { return FModel.AllowCaretInWhiteSpace(); }
  void SetAllowCaretInWhiteSpace(bool value) { FModel.SetAllowCaretInWhiteSpace(value); }
  bool AllowDragSelection() const { return FDrag.AllowDragSelection(); }
  void SetAllowDragSelection(bool value) { FDrag.SetAllowDragSelection(value); }
  bool WantTabs() const { return FWantTabs; }
  void SetWantTabs(bool value) { FWantTabs = value; }
  // Kept with the other settings; the editor does not act on it.
  bool StripTrailingBlanksOnSave() const { return FStripTrailingBlanksOnSave; }
  void SetStripTrailingBlanksOnSave(bool value) { FStripTrailingBlanksOnSave = value; }

  // --- Display properties ---------------------------------------------------------
  QFont Font() const { return font(); }
  // Any font is made fixed pitch.
  void SetFont(const QFont& value);
  // The control's own colour; the text is painted on EnvironmentOptions' colours.
  TVKColor Color() const { return FColor; }
  void SetColor(TVKColor value);
  TVKBorderStyle BorderStyle() const { return FBorderStyle; }
  void SetBorderStyle(TVKBorderStyle value);
  TVKScrolls Scrollbars() const { return FScrollbars; }
  void SetScrollbars(TVKScrolls value);
  int TabWidth() const { return FModel.TabWidth(); }
  void SetTabWidth(int value);
  bool RightEdge() const { return FRightEdge; }
  void SetRightEdge(bool value);
  int RightEdgeCol() const { return FRightEdgeCol; }
  void SetRightEdgeCol(int value); // 1 .. 1600
  bool Tracking() const { return FTracking; }
  void SetTracking(bool value);
  bool FullRedraw() const { return FFullRedraw; }
  void SetFullRedraw(bool value) { FFullRedraw = value; }
  // Qt draws every widget off-screen first; the flag is kept for the settings.
  bool DoubleBuffered() const { return FDoubleBuffered; }
  void SetDoubleBuffered(bool value) { FDoubleBuffered = value; }
  TVKEnvironment& EnvironmentOptions() { return FEnvironment; }
  TVKGutterOptions& GutterOptions() { return FGutterOptions; }
  // Hyperlinks are not recognised in the text; the switch and event are kept.
  bool ShowHyperlinks() const { return FShowHyperlinks; }
  void SetShowHyperlinks(bool value) { FShowHyperlinks = value; }

  // --- Completion list --------------------------------------------------------------
  // Entries: "text", or "insert|shown" / "name|insert|shown..." with fields by "|".
  std::vector<std::string>& DropListItems() { return FDropListItems; }
  int DropListTimeDelay() const { return FDropListTimeDelay; }
  void SetDropListTimeDelay(int seconds); // 0 .. 10; 0 never opens the list
  int DropListCharHeight() const { return FDropListCharHeight; }
  void SetDropListCharHeight(int value) { FDropListCharHeight = value; }
  int DropListCharWidth() const { return FDropListCharWidth; }
  void SetDropListCharWidth(int value) { FDropListCharWidth = value; }
  int DropListColumnCharWidth() const { return FDropListColumnCharWidth; }
  void SetDropListColumnCharWidth(int value) { FDropListColumnCharWidth = value; }
  bool DropListVisible() const;
  TVKDropList* DropList() { return FDropList; }

  // --- View -------------------------------------------------------------------------
  // One refresh of scroll bars and gutter 30 ms from now, however often it is called
  // meanwhile, followed by ScrollToEnd.
  void DeferRefresh();
  bool RefreshPending() const { return FRefreshPending; }
  // Shows the last page and puts the caret on the last line.
  void ScrollToEnd();
  void ScrollCaretIntoView();
  int TopLine() const { return FWindow.TopLine; }
  void SetTopLine(int line);
  int LeftCol() const { return FWindow.LeftCol; }
  void SetLeftCol(int col);
  int VisibleLines() const { return FWindow.VisibleLines; }
  int VisibleCols() const { return FWindow.VisibleCols; }
  // The grid cell: every glyph is drawn at a whole multiple of it, whatever the font's
  // own advance, so that caret, selection and mouse use the same columns as the text.
  int CharWidth() const { return FCharWidth; }
  int LineHeight() const { return FLineHeight; }
  int HorzRange() const { return FWindow.HorzRange; }
  bool Updating() const { return FUpdating; }
  // Text area position of a character cell (viewport coordinates).
  QPoint CellPosition(int col, int line) const;
  // Text position under a viewport point.
  TVKPos PositionAt(const QPoint& point) const;
  TVKGutter& Gutter() { return *FGutter; }
  // The gutter's options changed its width or look.
  void GutterChanged() { UpdateMetrics(); }

  // Presses, moves and releases in the gutter (viewport coordinates, at its edge).
  void GutterMouseDown(const QPoint& point, Qt::KeyboardModifiers modifiers);
  void GutterMouseMove(const QPoint& point) { MouseMove(point); }
  void GutterMouseUp(const QPoint& point, Qt::KeyboardModifiers modifiers);

  // Keys typed while the completion list is open, and the entry chosen from it.
  void DropListKey(QKeyEvent* event) { keyPressEvent(event); }
  void DropListChosen(const std::string& insertText);

  // --- Events (the first argument is the sender) ----------------------------------
  std::function<void(TVKCustomMemo& sender)> OnChange;
  std::function<void(TVKCustomMemo& sender)> OnCaretMove;
  std::function<void(TVKCustomMemo& sender)> OnDropListDown;
  std::function<void(TVKCustomMemo& sender, const std::string& hyperlink)> OnHyperlinkClick;
  // Every key press, before the editor handles it (Qt key code and modifiers).
  std::function<void(TVKCustomMemo& sender, int key, Qt::KeyboardModifiers modifiers)> OnKeyDown;
  // The context menu was asked for at globalPos.
  std::function<void(TVKCustomMemo& sender, const QPoint& globalPos)> OnContextPopup;

protected:
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void changeEvent(QEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void focusInEvent(QFocusEvent* event) override;
  void focusOutEvent(QFocusEvent* event) override;
  bool focusNextPrevChild(bool next) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;
  void wheelEvent(QWheelEvent* event) override;
  void contextMenuEvent(QContextMenuEvent* event) override;
  void scrollContentsBy(int dx, int dy) override;

private:
  // TVKEditView
  void ViewLinesChanging() override;
  void ViewLinesChangeEnded() override;
  void ViewReset() override;
  void ViewLinesChanged(int first, int last) override;
  void ViewMaxLineLengthChanged(int maxLineLength) override;
  void ViewRepaintLines(int first, int last) override;
  void ViewRepaintAll() override;
  void ViewScrollCaretIntoView() override { ScrollCaretIntoView(); }
  void ViewShowCaret() override;
  void ViewCaretMoved() override;

  // Mouse handling shared by the text area and the gutter (viewport coordinates).
  void MouseDown(const QPoint& point, Qt::KeyboardModifiers modifiers, bool inGutter);
  void MouseMove(const QPoint& point);
  void MouseUp(const QPoint& point, Qt::KeyboardModifiers modifiers);
  void MouseDoubleClick(const QPoint& point);
  void AutoScrollTick();
  void UpdateCursorShape(Qt::KeyboardModifiers modifiers);

  bool HandleShortcut(QKeyEvent* event);
  bool HandleEditingKey(QKeyEvent* event);
  bool HandleNavigationKey(QKeyEvent* event);
  void TypeText(const QString& text);

  void UpdateMetrics();
  void UpdateScrollBars();
  void UpdateGutter();
  void ApplyScrollbarPolicy();
  bool HorizontalBarShown() const;
  void NoteCaretColumn();
  void BlinkTick();
  void DeferredRefreshTick();
  void ScrollLines(int delta);
  void ScrollColumns(int delta);
  void MoveChildren(int dxPixels, int dyPixels);
  void PaintLine(QPainter& painter, int line, int y);
  // Draws shown[first, first + count) on the grid, the first at cell first.
  void DrawCells(QPainter& painter, const QString& shown, int first, int count, int baseline);
  void PaintCaret(QPainter& painter);
  void UpdateGlyphs();
  // Layout of a line on the grid.
  int DisplayCol(int line, int col) const;
  int ColumnAtDisplayCol(int line, int displayCol) const;
  std::string ShownText(int line, int left, int count) const;
  // The lines first..last of the text as a viewport rectangle (clipped to the screen).
  QRect LinesRect(int first, int last) const;
  int MaxTopLine() const;

  // Completion list
  void MaybeOpenDropList();
  void CloseDropList();
  void ResetIdle() { FIdleMs = 0; }

  TVKEditModel FModel;
  TVKEnvironment FEnvironment;
  TVKGutterOptions FGutterOptions;
  TVKGutter* FGutter = nullptr;
  TVKDropList* FDropList = nullptr;
  std::unique_ptr<TTimer> FBlinkTimer;
  std::unique_ptr<TTimer> FAutoScrollTimer;
  std::unique_ptr<TTimer> FRefreshTimer;

  bool FWantTabs = true;
  bool FStripTrailingBlanksOnSave = false;
  TVKColor FColor = clWindow;
  TVKBorderStyle FBorderStyle = TVKBorderStyle::bsSingle;
  TVKScrolls FScrollbars = TVKScrolls::sbNone;
  bool FRightEdge = false;
  int FRightEdgeCol = 80;
  bool FTracking = true;
  bool FFullRedraw = false;
  bool FDoubleBuffered = true;
  bool FShowHyperlinks = false;

  std::vector<std::string> FDropListItems;
  int FDropListTimeDelay = 3;
  int FDropListCharHeight = 4;
  int FDropListCharWidth = 20;
  int FDropListColumnCharWidth = 10;
  int FIdleMs = 0;

  int FCharWidth = 8;
  int FLineHeight = 16;
  int FAscent = 12;
  TVKViewWindow FWindow;
  // The font's glyph for each byte shown, 0 where the font has none (drawn as text,
  // so the desktop finds a font that has it).
  QRawFont FRawFont;
  std::array<quint32, 256> FGlyphOf{};
  QList<quint32> FGlyphIndexes;
  QList<QPointF> FGlyphPositions;
  // Only remembers what it computed, so reading the layout stays const.
  mutable TVKLayoutCache FLayouts;
  bool FCaretShown = false;
  bool FSkipBlink = false;
  bool FRefreshPending = false;
  bool FUpdating = false;
  bool FPaintSkipped = false;
  bool FSettingScrollBars = false;

  TVKMouseDrag FDrag{FModel};
  TVKWheel FWheel;
  QPoint FLastMousePoint;
};

class TVeskMemo final : public TVKCustomMemo {
  Q_OBJECT
public:
  using TVKCustomMemo::TVKCustomMemo;
};

} // namespace pelrow
