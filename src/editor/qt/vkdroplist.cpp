#include "editor/qt/vkdroplist.h"

#include "editor/qt/veskmemo.h"
#include "support/qt/latin1_text.h"

#include <QKeyEvent>
#include <QPainter>
#include <QStyledItemDelegate>

#include <algorithm>
#include <cctype>

namespace pelrow {

namespace {
constexpr const char* ListFontFamily = "MS Sans Serif";
constexpr int ListFontPoints = 8;
constexpr int EntryRole = Qt::UserRole + 1;

std::vector<std::string> Fields(const std::string& entry) {
  std::vector<std::string> fields(1);
  for (char c : entry) {
    if (c == '|')
      fields.emplace_back();
    else
      fields.back() += c;
  }
  return fields;
}

std::string Trimmed(const std::string& text) {
  const size_t first = text.find_first_not_of(' ');
  if (first == std::string::npos)
    return {};
  return text.substr(first, text.find_last_not_of(' ') - first + 1);
}

// Draws "name|text" entries as the text at the left and the name in bold in a column
// of its own; plain entries as they are.
class TDropListDelegate final : public QStyledItemDelegate {
public:
  TDropListDelegate(TVKCustomMemo& memo, QObject* parent)
      : QStyledItemDelegate(parent), FMemo(memo) {}

  void paint(QPainter* painter, const QStyleOptionViewItem& option,
             const QModelIndex& index) const override {
    const std::string entry = Latin1Bytes(index.data(EntryRole).toString());
    const bool selected = option.state & QStyle::State_Selected;
    const QPalette& palette = option.palette;
    painter->save();
    painter->fillRect(option.rect, selected ? palette.highlight() : palette.base());
    painter->setPen(selected ? palette.color(QPalette::HighlightedText)
                             : palette.color(QPalette::Text));
    const std::vector<std::string> fields = Fields(entry);
    const QRect area = option.rect;
    const int flags = Qt::TextSingleLine | Qt::AlignVCenter | Qt::AlignLeft;
    if (fields.size() == 1) {
      painter->drawText(area, flags, Latin1(" " + entry));
    } else {
      painter->drawText(area, flags, Latin1(" " + fields[1]));
      QFont bold = painter->font();
      bold.setBold(true);
      painter->setFont(bold);
      const int column = (FMemo.DropListColumnCharWidth() + 1) *
                         QFontMetrics(option.font).horizontalAdvance(QLatin1Char('W'));
      painter->drawText(area.adjusted(column, 0, 0, 0), flags, Latin1("  " + fields[0]));
    }
    painter->restore();
  }

private:
  TVKCustomMemo& FMemo;
};
} // namespace

std::string DropListInsertText(const std::string& entry) {
  const std::vector<std::string> fields = Fields(entry);
  if (fields.size() == 1)
    return entry;
  const size_t skip = fields.size() == 2 ? 1 : 2;
  size_t position = 0;
  for (size_t i = 0; i < skip; ++i)
    position = entry.find('|', position) + 1;
  return entry.substr(position);
}

std::string DropListTextToType(const std::string& insertText, const std::string& typed) {
  const std::string input = Trimmed(typed);
  std::string result;
  for (size_t i = 0; i < insertText.size(); ++i) {
    const bool repeated =
        i < input.size() && std::tolower(static_cast<unsigned char>(insertText[i])) ==
                                std::tolower(static_cast<unsigned char>(input[i]));
    if (!repeated)
      result += insertText[i];
  }
  return result;
}

TVKDropList::TVKDropList(TVKCustomMemo& memo) : QListWidget(&memo), FMemo(memo) {
  QFont entries(ListFontFamily, ListFontPoints);
  entries.setStyleHint(QFont::SansSerif);
  setFont(entries);
  setItemDelegate(new TDropListDelegate(memo, this));
  setSelectionMode(QAbstractItemView::SingleSelection);
  hide();
}

void TVKDropList::Open(const std::vector<std::string>& entries, const QRect& geometry) {
  std::vector<std::string> sorted = entries;
  std::sort(sorted.begin(), sorted.end());
  clear();
  for (const std::string& entry : sorted) {
    auto* item = new QListWidgetItem(this);
    item->setData(EntryRole, Latin1(entry));
  }
  FTyped.clear();
  setGeometry(geometry);
  setCurrentRow(0);
  show();
  raise();
  setFocus();
}

void TVKDropList::Close() {
  if (!isVisible())
    return;
  hide();
  FMemo.setFocus();
}

void TVKDropList::Choose() {
  const QListWidgetItem* item = currentItem();
  const std::string entry = item ? Latin1Bytes(item->data(EntryRole).toString()) : "";
  const std::string typed = FTyped;
  Close();
  if (!entry.empty())
    FMemo.DropListChosen(DropListTextToType(DropListInsertText(entry), typed));
}

void TVKDropList::keyPressEvent(QKeyEvent* event) {
  switch (event->key()) {
  case Qt::Key_Escape:
    Close();
    return;
  case Qt::Key_Return:
  case Qt::Key_Enter:
    Choose();
    return;
  case Qt::Key_Up:
  case Qt::Key_Down:
  case Qt::Key_PageUp:
  case Qt::Key_PageDown:
  case Qt::Key_Home:
  case Qt::Key_End:
    QListWidget::keyPressEvent(event);
    return;
  default:
    break;
  }
  // Other keys edit the text under the list and are remembered for the completion.
  FTyped += Latin1Bytes(event->text());
  FMemo.DropListKey(event);
}

void TVKDropList::focusOutEvent(QFocusEvent* event) {
  QListWidget::focusOutEvent(event);
  if (isVisible())
    hide();
}

} // namespace pelrow
