// Window placement: saving, loading and keeping a window on its screen.
#include "support/window_placement.h"

#include "support/reg_ini_file.h"

#include <algorithm>

namespace pelrow {

namespace {
constexpr const char* ValueLeft = "Left";
constexpr const char* ValueTop = "Top";
constexpr const char* ValueWidth = "Width";
constexpr const char* ValueHeight = "Height";
constexpr const char* ValueState = "State";
constexpr const char* ValueVisible = "Visible";
constexpr const char* ValueStyle = "Style";
// Far beyond any screen; a stored value outside is damage, and keeping within it
// keeps the arithmetic below from overflowing.
constexpr int32_t CoordinateLimit = 1 << 20;

int32_t ReadCoordinate(const TRegIniFile& store, const std::string& section,
                       const std::string& ident, int32_t defaultValue) {
  return std::clamp(store.ReadInteger(section, ident, defaultValue), -CoordinateLimit,
                    CoordinateLimit);
}

// A size that cannot be a window's keeps the window's own.
int32_t ReadExtent(const TRegIniFile& store, const std::string& section, const std::string& ident,
                   int32_t current) {
  const int32_t value = store.ReadInteger(section, ident, current);
  return value > 0 && value <= CoordinateLimit ? value : current;
}
} // namespace

// A window pushed only until its left or top edge is inside would leave a sliver
// of a few pixels to grab; the area keeps 30 pixels of it instead.
void ClampToWorkArea(const TRect& area, int32_t& left, int32_t& top, int32_t& width,
                     int32_t& height, bool clampSize) {
  if (clampSize) {
    width = std::min(width, area.Width);
    height = std::min(height, area.Height);
  }
  if (left > area.Right() - MinimumVisible)
    left = area.Right() - MinimumVisible;
  if (left + width - MinimumVisible < area.Left)
    left = area.Left - width + MinimumVisible;
  if (top > area.Bottom() - MinimumVisible)
    top = area.Bottom() - MinimumVisible;
  if (top < area.Top)
    top = area.Top;
}

void CenterWindowRect(const TRect& area, int32_t width, int32_t height, const TRect* owner,
                      int32_t& left, int32_t& top) {
  const TRect& reference = owner != nullptr ? *owner : area;
  left = reference.Left + reference.Width / 2 - width / 2;
  top = reference.Top + reference.Height / 2 - height / 2;
  ClampToWorkArea(area, left, top, width, height, false);
}

void SavePlacement(const TWindowPlacementState& window, const TRect& workArea, TRegIniFile& store,
                   const std::string& section, uint32_t parts, const std::string& prefix) {
  // A minimised or maximised window is stored with the bounds it returns to.
  bool restoredBounds = false;
  if ((parts & (plMinimized | plMaximized)) != 0) {
    int32_t state = WindowStateNormal;
    if (window.IsMainWindow && window.ApplicationMinimized) {
      state = (parts & plMinimized) != 0 ? WindowStateMinimized : WindowStateNormal;
    } else if (window.State == WindowStateMinimized && (parts & plMinimized) != 0) {
      state = WindowStateMinimized;
      restoredBounds = true;
    } else if (window.State == WindowStateMaximized && (parts & plMaximized) != 0) {
      state = WindowStateMaximized;
      restoredBounds = true;
    }
    store.WriteInteger(section, prefix + ValueState, state);
  }
  const TRect& bounds =
      restoredBounds && window.NormalBounds ? *window.NormalBounds : window.Bounds;
  if ((parts & plPosition) != 0) {
    store.WriteInteger(section, prefix + ValueTop, bounds.Top - workArea.Top);
    store.WriteInteger(section, prefix + ValueLeft, bounds.Left - workArea.Left);
  }
  if ((parts & plSize) != 0) {
    store.WriteInteger(section, prefix + ValueHeight, bounds.Height);
    store.WriteInteger(section, prefix + ValueWidth, bounds.Width);
  }
  if ((parts & plVisible) != 0)
    store.WriteBool(section, prefix + ValueVisible, window.Visible);
  if ((parts & plStyle) != 0)
    store.WriteInteger(section, prefix + ValueStyle, window.Style);
}

TPlacementResult LoadPlacement(const TWindowPlacementState& window, const TRect& workArea,
                               const TRegIniFile& store, const std::string& section, uint32_t parts,
                               const std::string& prefix) {
  TPlacementResult result;
  int32_t width = window.Bounds.Width;
  int32_t height = window.Bounds.Height;
  if ((parts & plSize) != 0) {
    height = ReadExtent(store, section, prefix + ValueHeight, height);
    width = ReadExtent(store, section, prefix + ValueWidth, width);
  }
  int32_t left = window.Bounds.Left;
  int32_t top = window.Bounds.Top;
  if ((parts & plPosition) != 0) {
    top = ReadCoordinate(store, section, prefix + ValueTop, MissingPosition);
    left = ReadCoordinate(store, section, prefix + ValueLeft, MissingPosition);
    if (top == MissingPosition || left == MissingPosition) {
      CenterWindowRect(workArea, width, height, window.Owner ? &*window.Owner : nullptr, left, top);
    } else {
      left += workArea.Left;
      top += workArea.Top;
    }
  }
  ClampToWorkArea(workArea, left, top, width, height, (parts & plSize) != 0);
  result.Bounds = {left, top, width, height};

  if ((parts & (plMinimized | plMaximized)) != 0) {
    const int32_t state = store.ReadInteger(section, prefix + ValueState, window.State);
    if ((state == WindowStateMinimized && (parts & plMinimized) != 0) ||
        (state == WindowStateMaximized && (parts & plMaximized) != 0))
      result.ShowState = state;
  }
  if ((parts & plStyle) != 0) {
    result.Style = store.ReadInteger(section, prefix + ValueStyle, window.Style);
    result.KeepPosition = (parts & plPosition) != 0 && *result.Style == WindowStyleStayOnTop;
  }
  if ((parts & plVisible) != 0)
    result.Visible = store.ReadBool(section, prefix + ValueVisible, window.IsMainWindow);
  return result;
}

} // namespace pelrow
