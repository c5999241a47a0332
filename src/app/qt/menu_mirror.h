// Shows a menu model (a device menu's items) in a real Qt menu. The model reports
// its changes and the mirror rebuilds the menu once from the event loop, however
// many changes came; a click goes back to the model, also from the event loop, so
// that the menu is never rebuilt under the action the user just triggered.
#pragma once

#include <QObject>

#include <cstdint>
#include <string>

class QMenu;

namespace pelrow {

class TMenuModel;
struct TMenuItem;

class TMenuMirror final : public QObject {
public:
  TMenuMirror(TMenuModel& model, QMenu& menu);
  ~TMenuMirror() override;

  // Builds the menu from the model now.
  void Rebuild();

private:
  void QueueRebuild();
  void Clicked(const TMenuItem* item, int32_t tag, const std::string& caption);

  TMenuModel& FModel;
  QMenu& FMenu;
  bool FRebuildQueued = false;
};

} // namespace pelrow
