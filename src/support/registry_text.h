// The settings file's text form. It is meant to be read, and if need be edited,
// by a person:
//
//   ; Pelrow settings (keys below HKEY_CURRENT_USER)
//
//   [Software\Narvell\Vesk's Pelrow\pelrow\Current]
//   "SendSpeed"=-500
//   "FontName"="Terminal"
//
// A line in brackets names a key by its path; the value lines under it are a
// quoted name, "=", and either a signed decimal (a 32-bit integer value) or a
// quoted text (a text value). In quoted names and texts a backslash starts an
// escape: \\ \" \n \r \t or \xHH for any other byte. In key paths, which use the
// backslash as separator, "%" and control bytes are written as %HH. Keys without
// values appear only when they have no subkeys either. Blank lines and lines
// starting with ";" or "#" are ignored.
#pragma once

#include <string>
#include <string_view>

#include "support/registry_tree.h"

namespace pelrow {

std::string FormatRegistryText(const TRegKeyNode& root);

// Fills root from the text. On a malformed line it answers false with error
// naming the line; root then holds what came before and must not be used.
bool ParseRegistryText(std::string_view text, TRegKeyNode& root, std::string& error);

} // namespace pelrow
