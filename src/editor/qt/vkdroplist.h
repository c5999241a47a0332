// The editor's completion list: a sorted list that opens under the caret after the
// user has been idle for a while, and types the chosen entry into the editor.
#pragma once

#include <QListWidget>

#include <string>
#include <vector>

namespace pelrow {

class TVKCustomMemo;

// The text an entry inserts: the whole entry without "|", the text after the first
// "|" with one, after the second "|" with more.
std::string DropListInsertText(const std::string& entry);
// What to type of the inserted text when typed was entered already while the list was
// open: characters that repeat the typed ones (ignoring case) are skipped.
std::string DropListTextToType(const std::string& insertText, const std::string& typed);

class TVKDropList final : public QListWidget {
  Q_OBJECT
public:
  explicit TVKDropList(TVKCustomMemo& memo);

  void Open(const std::vector<std::string>& entries, const QRect& geometry);
  void Close();
  const std::string& Typed() const { return FTyped; }

protected:
  void keyPressEvent(QKeyEvent* event) override;
  void focusOutEvent(QFocusEvent* event) override;

private:
  void Choose();

  TVKCustomMemo& FMemo;
  std::string FTyped;
};

} // namespace pelrow
