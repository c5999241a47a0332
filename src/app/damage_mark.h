// Marks of lost input in box text: the comment line the receive path leaves where
// input was lost ("; !! input lost here: ..."), or one the user wrote ("; damaged:
// 1,024 bytes lost"). Comments, so the hex notation skips them and a box saved as
// ".txt" sends as before. The check of a dump reads them here, and only here.
#pragma once

#include <string_view>

namespace pelrow {

// Whether a line of box text carries a loss mark: one of the receive path's marks of
// input lost or a message cut short, or a comment (";", "#" or "//", on
// a line of its own or after the bytes) whose first word is "damaged", "lost",
// "gap", "cut" or "incomplete", in any letter case.
bool HasDamageMark(std::string_view line);

} // namespace pelrow
