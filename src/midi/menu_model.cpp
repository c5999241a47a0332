// Menu items as data, with change reports for the window that mirrors them.
#include "midi/menu_model.h"

#include <algorithm>

namespace pelrow {

TMenuItem& TMenuModel::Insert(std::ptrdiff_t position, TMenuItem item) {
  auto owned = std::make_unique<TMenuItem>(std::move(item));
  TMenuItem& result = *owned;
  Insert(position, std::move(owned));
  return result;
}

void TMenuModel::Insert(std::ptrdiff_t position, std::unique_ptr<TMenuItem> item) {
  const bool inRange = position >= 0 && static_cast<std::size_t>(position) <= FItems.size();
  FItems.insert(inRange ? FItems.begin() + position : FItems.end(), std::move(item));
  Changed();
}

std::unique_ptr<TMenuItem> TMenuModel::Take(std::size_t index) {
  std::unique_ptr<TMenuItem> item = std::move(FItems.at(index));
  FItems.erase(FItems.begin() + static_cast<std::ptrdiff_t>(index));
  Changed();
  return item;
}

std::ptrdiff_t TMenuModel::IndexOf(const TMenuItem* item) const {
  const auto found = std::find_if(FItems.begin(), FItems.end(),
                                  [item](const auto& owned) { return owned.get() == item; });
  return found == FItems.end() ? -1 : found - FItems.begin();
}

void TMenuModel::SetChecked(std::size_t index, bool checked) {
  TMenuItem& item = Item(index);
  if (item.Checked == checked)
    return;
  item.Checked = checked;
  Changed();
}

bool TMenuModel::Click(const TMenuItem* item) {
  const std::ptrdiff_t index = IndexOf(item);
  if (index < 0)
    return false;
  TMenuItem& target = *FItems[static_cast<std::size_t>(index)];
  if (!target.Visible || !target.OnClick)
    return false;
  // The handler may rebuild this menu and free the item; it gets its own copy of
  // the handler to run.
  const TMenuItem::TClickEvent handler = target.OnClick;
  handler(target);
  return true;
}

void TMenuModel::Changed() {
  if (FUpdating > 0) {
    FChangedInUpdate = true;
    return;
  }
  if (OnChange)
    OnChange(*this);
}

void TMenuModel::EndUpdate() {
  if (--FUpdating > 0 || !FChangedInUpdate)
    return;
  FChangedInUpdate = false;
  if (OnChange)
    OnChange(*this);
}

} // namespace pelrow
