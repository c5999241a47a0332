// Marks of lost input in box text: the comment line the receive path leaves where
// input was lost ("; !! input lost here: ..."), or one the user wrote ("; damaged:
// 1,024 bytes lost"), and the receive path's mark of an interruption of the MIDI
// system ("; !? input may be missing here: ..."). Comments, so the hex notation
// skips them and a box saved as ".txt" sends as before. The check of a dump reads
// them here, and only here.
#pragma once

#include <string_view>

namespace pelrow {

enum class TDumpMark {
  None,
  // One of the receive path's marks of input lost or a message cut short ("; !!"),
  // or a comment (";", "#" or "//", on a line of its own or after the bytes) whose
  // first word is "damaged", "lost", "gap", "cut" or "incomplete", in any letter case.
  Damage,
  // The receive path's mark of an interruption ("; !?"): input may be missing.
  Interruption,
};

// The mark a line of box text carries.
TDumpMark DumpMarkOf(std::string_view line);

} // namespace pelrow
