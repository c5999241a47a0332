// The mark that the receive path leaves in the In box where input was lost: a
// comment, so the hex notation skips it and a box saved as ".txt" sends as before,
// whose words say what happened ("; damaged: 1,024 bytes lost", "// gap"). The
// check of a dump reads it back here, and only here.
#pragma once

#include <string_view>

namespace pelrow {

// Whether a line of box text carries a loss mark: a comment (";", "#" or "//", on
// a line of its own or after the bytes) whose first word is "damaged", "lost",
// "gap", "cut" or "incomplete", in any letter case.
bool HasDamageMark(std::string_view line);

} // namespace pelrow
