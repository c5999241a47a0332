// The main window's menus as data: every item's name, caption (with "&" before its
// access key), hint and kind. The widget layer turns this table into real menus and
// binds each item to the handler of the same name, so a caption or hint is written
// in exactly one place.
#pragma once

#include <span>

namespace pelrow {

enum class TMenuItemKind {
  Menu,      // a top-level menu of the menu bar
  Command,   // an ordinary item
  Check,     // an item with a check mark
  Separator, // a dividing line
};

struct TMenuItemDef {
  const char* Name; // component name, also the widget's object name
  const char* Caption;
  const char* Hint; // shown in the status bar while the item is highlighted
  TMenuItemKind Kind;
};

// The menu bar in display order: each top-level menu followed by its items.
std::span<const TMenuItemDef> MainMenuItems();

// The context menu shared by the two boxes and the two logs, in display order.
std::span<const TMenuItemDef> PopupMenuItems();

// Which context-menu items show and which are enabled, for the box it was opened on.
struct TPopupContext {
  bool IsOutBox; // opened on the Out box, the only one that can be sent
  bool HasSelection;
  bool ReadOnly;
  bool ClipboardHasText;
  bool IsDataBox = false; // the Out or the In box, not a log
};

struct TPopupItemState {
  bool Visible;
  bool Enabled;
};

struct TPopupState {
  TPopupItemState Copy, Paste, Cut, Delete, SelectAll, Clear, Send, CheckData;
};

TPopupState PopupStateFor(const TPopupContext& context);

} // namespace pelrow
