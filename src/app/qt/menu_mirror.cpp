#include "app/qt/menu_mirror.h"

#include "midi/menu_model.h"
#include "support/qt/latin1_text.h"

#include <QAction>
#include <QMenu>

namespace pelrow {

TMenuMirror::TMenuMirror(TMenuModel& model, QMenu& menu)
    : QObject(&menu), FModel(model), FMenu(menu) {
  FModel.OnChange = [this](TMenuModel&) { QueueRebuild(); };
  Rebuild();
}

// The model outlives the mirror in the window (the device menus clear it last).
TMenuMirror::~TMenuMirror() {
  FModel.OnChange = nullptr;
}

void TMenuMirror::QueueRebuild() {
  if (FRebuildQueued)
    return;
  FRebuildQueued = true;
  QMetaObject::invokeMethod(this, &TMenuMirror::Rebuild, Qt::QueuedConnection);
}

void TMenuMirror::Rebuild() {
  FRebuildQueued = false;
  FMenu.clear();
  for (std::size_t i = 0; i < FModel.Count(); ++i) {
    const TMenuItem& item = FModel.Item(i);
    if (!item.Visible)
      continue;
    if (item.IsSeparator()) {
      FMenu.addSeparator();
      continue;
    }
    // A device name is shown as it is: an ampersand in it marks no access key.
    QString caption = Latin1(item.Caption);
    caption.replace(QLatin1Char('&'), QLatin1String("&&"));
    QAction* action = FMenu.addAction(caption);
    action->setCheckable(true);
    action->setChecked(item.Checked);
    action->setData(item.Tag);
    connect(action, &QAction::triggered, this,
            [this, target = &item, tag = item.Tag, shown = item.Caption] {
              QMetaObject::invokeMethod(
                  this, [this, target, tag, shown] { Clicked(target, tag, shown); },
                  Qt::QueuedConnection);
            });
  }
}

// Qt has already toggled the action's own check mark; the model decides, so the
// menu is shown again from it whatever the click did. An item rebuilt meanwhile
// may sit at the address of the one clicked: only the same device is clicked.
void TMenuMirror::Clicked(const TMenuItem* item, int32_t tag, const std::string& caption) {
  if (FModel.IndexOf(item) >= 0 && item->Tag == tag && item->Caption == caption)
    FModel.Click(item);
  Rebuild();
}

} // namespace pelrow
