// A menu as data: items with a caption, an integer tag, a visible flag, a check
// mark and a click handler. The device menus build and check their items here; the
// window mirrors the model into a real menu whenever it reports a change and sends
// the user's clicks back through Click.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace pelrow {

class TMenuModel;

struct TMenuItem {
  using TClickEvent = std::function<void(TMenuItem& sender)>;

  std::string Caption; // "-" makes the item a separator
  int32_t Tag = 0;
  bool Visible = true;
  bool Checked = false;
  TClickEvent OnClick;

  bool IsSeparator() const { return Caption == "-"; }
};

class TMenuModel {
public:
  using TChangeEvent = std::function<void(TMenuModel& sender)>;

  TMenuModel() = default;
  TMenuModel(const TMenuModel&) = delete;
  TMenuModel& operator=(const TMenuModel&) = delete;

  std::size_t Count() const { return FItems.size(); }
  TMenuItem& Item(std::size_t index) { return *FItems.at(index); }
  const TMenuItem& Item(std::size_t index) const { return *FItems.at(index); }

  // Position -1 (or past the end) appends. Returns the item, owned by the model.
  TMenuItem& Insert(std::ptrdiff_t position, TMenuItem item);
  TMenuItem& Add(TMenuItem item) { return Insert(-1, std::move(item)); }
  // Hands the item over to the caller (to move it into another menu).
  std::unique_ptr<TMenuItem> Take(std::size_t index);
  void Insert(std::ptrdiff_t position, std::unique_ptr<TMenuItem> item);
  void Remove(std::size_t index) { Take(index); }
  // Index of the item, or -1 when it is no longer in this menu.
  std::ptrdiff_t IndexOf(const TMenuItem* item) const;
  void SetChecked(std::size_t index, bool checked);

  // Runs the item's click handler if it is still in the menu and visible. The
  // window calls this with the item it mirrored, which may have gone meanwhile.
  bool Click(const TMenuItem* item);

  // Reported after each change, or once at the end of an update.
  TChangeEvent OnChange;

  // Holds change reports back until the last of nested updates ends.
  class TUpdate {
  public:
    explicit TUpdate(TMenuModel& model) : FModel(model) { ++FModel.FUpdating; }
    ~TUpdate() { FModel.EndUpdate(); }
    TUpdate(const TUpdate&) = delete;
    TUpdate& operator=(const TUpdate&) = delete;

  private:
    TMenuModel& FModel;
  };

private:
  void Changed();
  void EndUpdate();

  std::vector<std::unique_ptr<TMenuItem>> FItems;
  int FUpdating = 0;
  bool FChangedInUpdate = false;
};

} // namespace pelrow
