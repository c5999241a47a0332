// Qt services for the editor: the desktop clipboard behind TVKClipboard and the
// editor's three mouse cursors, drawn in code. The Qt timer comes from support.
#pragma once

#include "editor/vkclipboard.h"
#include "support/clock.h"
#include "support/qt/qt_services.h"

#include <QCursor>

#include <memory>

namespace pelrow {

// The desktop clipboard; text travels as Latin-1 with LF line breaks, the desktop's
// convention, and comes back with whatever breaks it holds.
class TVKQtClipboard final : public TVKClipboard {
public:
  bool HasText() const override;
  std::string Text() const override;
  void SetText(const std::string& text) override;
};

enum class TVKCursorKind { SelDrag, SelDragCopy, LineSel };
// The cursors are made once, on first use.
const QCursor& EditorCursor(TVKCursorKind kind);

} // namespace pelrow
