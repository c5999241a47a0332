// What a send transmits: every file, standard input and --hex text read into one
// line list, in command-line order, and checked through the hex parser before a
// single byte goes out. Files are read by the window's file loader, so a file sends
// exactly as it would from the window's Midi Out box.
#pragma once

#include "cli/cli_options.h"
#include "editor/vkstrings.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace pelrow::cli {

// The names that stand for the sources without a file name in messages.
inline constexpr char StandardInputName[] = "standard input";
inline constexpr char HexOptionName[] = "--hex";

struct TSendInput {
  TVKStrings Lines;
  int64_t Bytes = 0; // what the lines stand for
  // Where each source's lines begin, in order, with the name messages give it.
  struct TSource {
    int FirstLine = 0;
    std::string Name;
  };
  std::vector<TSource> Sources;
};

// Reads the items in order into input; false with the first problem in error (a
// file that cannot be read, or a hex error as NAME:LINE:COLUMN: ...).
bool ReadSendInput(const std::vector<TSendItem>& items, int standardInput, TInputFormat format,
                   TSendInput& input, std::string& error);

// As ReadSendInput, and input that holds no MIDI bytes is a problem too, reported
// as emptyText.
bool ReadNonEmptySendInput(const std::vector<TSendItem>& items, int standardInput,
                           TInputFormat format, TSendInput& input, const char* emptyText,
                           std::string& error);

// False when the input holds bytes that form no MIDI message, read as one stream
// as a send reads it; error then names the first of them as NAME:LINE:COLUMN.
bool CheckWholeMessages(const TSendInput& input, std::string& error);

// Parses lines from first on, which came from sourceName, as a send would; adds
// their bytes to bytes. False with the first invalid character's place in error.
// Columns are those of the text as written (leading blanks count). Unlike the
// window, which drops a lone last digit of a line, a command line takes it for
// the typing mistake it is.
bool CheckHexLines(const TVKStrings& lines, int first, const std::string& sourceName,
                   int64_t& bytes, std::string& error);

// Loads a file through the window's loader into lines (replacing them); false with
// the loader's message in error. Pipes and FIFOs are read too; a Standard MIDI File
// without System Exclusive messages is a problem. Ctrl-C stops the load.
bool LoadFileLines(const std::string& fileName, int splitThreshold, TVKStrings& lines,
                   std::string& error);

// Reads standard input (the descriptor) into lines: raw bytes as the loader makes
// lines of a ".syx" file, hex text as a ".txt" file; Auto tells them apart by the
// first character that is no blank (raw when it is 80 or above, as a dump's F0).
bool ReadStandardInput(int fd, TInputFormat format, int splitThreshold, TVKStrings& lines,
                       std::string& error);

// Whether text holding that first character is raw bytes rather than hex text.
bool LooksLikeRawBytes(std::string_view text);

} // namespace pelrow::cli
