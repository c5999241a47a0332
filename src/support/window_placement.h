// A window's placement (position, size, minimised or maximised state, visibility
// and style) kept in a section of the settings store, so that a window reopens
// where the user left it and never off-screen. Everything here is arithmetic over
// rectangles: the window describes itself and its screen's work area (the part
// not covered by panels) and applies what loading answers.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace pelrow {

class TRegIniFile;

struct TRect {
  int32_t Left = 0;
  int32_t Top = 0;
  int32_t Width = 0;
  int32_t Height = 0;

  int32_t Right() const { return Left + Width - 1; }
  int32_t Bottom() const { return Top + Height - 1; }
  bool operator==(const TRect&) const = default;
};

// Which parts a save or load covers (bits, combined with |).
enum TPlacementPart : uint32_t {
  plSize = 1,
  plPosition = 2,
  plMaximized = 4,
  plMinimized = 8,
  plVisible = 16,
  plStyle = 32,
};
constexpr uint32_t plAll = 63;

constexpr int32_t WindowStateNormal = 0;
constexpr int32_t WindowStateMinimized = 1;
constexpr int32_t WindowStateMaximized = 2;
constexpr int32_t WindowStyleStayOnTop = 3;
// Stored for a position that was never saved.
constexpr int32_t MissingPosition = -10000;
// What stays inside the work area of a window pushed back into it.
constexpr int32_t MinimumVisible = 30;

// The window as it is now, in screen coordinates.
struct TWindowPlacementState {
  TRect Bounds;                      // outer bounds
  std::optional<TRect> NormalBounds; // restored bounds while minimised or maximised
  int32_t State = WindowStateNormal;
  bool ApplicationMinimized = false; // the whole program is minimised
  bool Visible = true;
  int32_t Style = 0; // 0 normal, 1 MDI child, 2 MDI frame, 3 stay on top
  bool IsMainWindow = true;
  std::optional<TRect> Owner; // a visible owner window, to centre on
};

// What to apply after loading.
struct TPlacementResult {
  TRect Bounds; // screen coordinates, set in one step
  // Minimised or maximised; for the main window this is how it is first shown
  // (minimised without taking the focus).
  std::optional<int32_t> ShowState;
  std::optional<int32_t> Style;
  // A stay-on-top window keeps its loaded position; the toolkit must not place it.
  bool KeepPosition = false;
  std::optional<bool> Visible;
};

// Pushes a window back so that its top edge lies in the area and at least 30
// pixels of it stay inside; with clampSize it also shrinks to the area's size.
void ClampToWorkArea(const TRect& area, int32_t& left, int32_t& top, int32_t& width,
                     int32_t& height, bool clampSize);
// The top-left corner that centres a window of this size on its owner (when given)
// or on the work area, pushed into the work area.
void CenterWindowRect(const TRect& area, int32_t width, int32_t height, const TRect* owner,
                      int32_t& left, int32_t& top);

// Positions are stored relative to the work area's top-left corner, so a window
// keeps its place next to a panel at the top or left of the screen.
void SavePlacement(const TWindowPlacementState& window, const TRect& workArea, TRegIniFile& store,
                   const std::string& section, uint32_t parts, const std::string& prefix);
TPlacementResult LoadPlacement(const TWindowPlacementState& window, const TRect& workArea,
                               const TRegIniFile& store, const std::string& section, uint32_t parts,
                               const std::string& prefix);

} // namespace pelrow
