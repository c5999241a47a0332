// The crossing between the program's text and Qt's strings. Program text is 8-bit,
// one byte per character, and every byte is shown as its Latin-1 character
// wherever it reaches the screen: boxes, logs, status panels, message boxes and
// captions. Going through these two keeps one report looking the same everywhere.
#pragma once

#include <QString>
#include <string>
#include <string_view>

namespace pelrow {

QString Latin1(std::string_view bytes);
// Back to program text; a character that Latin-1 lacks becomes "?".
std::string Latin1Bytes(const QString& text);

} // namespace pelrow
