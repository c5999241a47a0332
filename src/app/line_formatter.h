// Received MIDI data as lines of hexadecimal text: upper-case digits, one blank
// between bytes. Long data is cut before every status byte except F7 and, when
// splitting is on, after a fixed number of bytes. Every line is valid input for
// the Out box's parser.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "app/status_report.h"
#include "midi/midi_records.h"

namespace pelrow {

// Receives each finished line (the In box's line list, or any other list). The
// view is valid only during the call: the formatter reuses one text buffer, so a
// list that keeps lines copies them into storage of its own.
using TAddLine = std::function<void(std::string_view line)>;

// Bytes per line for long data: the threshold when splitting is on, else -1.
int SplitThreshold(bool splitLongMessages, int splitLongMessagesThreshold);

// Takes the bytes of one line from `data` (at least one), writes them to `text`,
// and moves `data` and `remaining` past them. `limit` <= 0 means no length cut.
void FormatHexLine(const uint8_t*& data, int& remaining, int limit, std::string& text);
// How many bytes the line FormatHexLine would take next.
int HexLineBytes(const uint8_t* data, int remaining, int limit);
// The bytes as hex pairs separated by blanks (at least one byte).
void WriteHexBytes(const uint8_t* bytes, int n, std::string& text);

// Cuts a block into lines. On failure (e.g. out of memory) reports the message on
// the In side and returns false; lines added before the failure stay.
bool AddLongMessageLines(const uint8_t* data, int length, int limit, const TAddLine& addLine,
                         const TShowStatus& showStatus);

// One line for a short message of `length` bytes (1..3); other lengths add nothing.
bool AddShortMessageLine(uint8_t status, uint8_t data1, uint8_t data2, int length,
                         const TAddLine& addLine, const TShowStatus& showStatus);

// The line of a received short message: as many bytes as its MessageLength says.
bool AddShortMessageLine(const TMyMidiEvent& event, const TAddLine& addLine,
                         const TShowStatus& showStatus);

// Comment lines among received lines that mark where input went missing or a
// message was cut; the notation ignores them, so the lines still send as they are.
inline constexpr char LostMarkLine[] = "; !! input lost here: %d bytes could not be kept";
inline constexpr char LostUncountedMarkLine[] =
    "; !! input lost here: the MIDI system could not keep all input";
inline constexpr char OverrunMarkLine[] =
    "; !! input lost here: the device's input overran: %d bytes were lost";
inline constexpr char CutMarkLine[] = "; !! the message above is incomplete: its end never came";
inline constexpr char MayBeLostMarkLine[] =
    "; !? input may be missing here: the MIDI system was interrupted";
inline constexpr char MayBeLostSkippedMarkLine[] =
    "; !? input may be missing here: the MIDI system was interrupted, and the %d bytes "
    "after it that continued a message were not kept";

enum class TMarkLine { None, Possible, Certain };
// Whether a line is one of those marks: of data certainly lost or cut short, or of
// data that may be missing.
TMarkLine MarkLineKind(std::string_view line);

// Every line of a received event: a short message, long data (limit as for
// AddLongMessageLines) followed by the cut mark when it was cut short, or a gap's
// mark (after the cut mark when the gap cut the message before it).
bool AddEventLines(const TMyMidiEvent& event, int limit, const TAddLine& addLine,
                   const TShowStatus& showStatus);

} // namespace pelrow
