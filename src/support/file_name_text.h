// File names as the program shows them. A name from the file system is bytes, and
// on today's desktops those bytes are UTF-8: "Grüße.syx" is 47 72 C3 BC C3 9F 65
// 2E 73 79 78. Program text is one byte per character, shown as Latin-1, so a name
// is turned into program text before it goes into a report, a caption or a menu;
// it then looks the same in the status panel, the log and a message box. The file
// itself is always opened by its own bytes.
#pragma once

#include <string>
#include <string_view>

namespace pelrow {

// A name that is valid UTF-8 is decoded: each character that Latin-1 has becomes
// its one byte, any other character "?". A name that is not valid UTF-8 was most
// likely written as Latin-1 by an older program and is kept byte for byte.
std::string FileNameText(std::string_view fileName);

} // namespace pelrow
