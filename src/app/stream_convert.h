// File to file conversion between raw bytes (".syx"), hex lines (".txt") and the
// System Exclusive events of a Standard MIDI File (".mid", read only), in constant
// memory: the input is read in chunks and the output goes out through a byte sink
// as it is made. The hex lines are those the window shows and saves for the same
// bytes (one line per message, cut before every status byte but F7 and, when asked,
// after a number of bytes), each ended by LF; hex text is read with the window's
// notation. Unlike a load into the window, damaged or empty input is refused, so a
// converted file is always all of its input.
#pragma once

#include "app/file_saver.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

namespace pelrow {

// Where converted bytes go. Write answers false when the bytes could not be
// written; the sink keeps the reason for its owner.
class TByteSink {
public:
  virtual ~TByteSink() = default;
  virtual bool Write(const char* data, std::size_t size) = 0;
};

enum class TConvertStatus {
  Done,
  BadInput,    // unreadable, damaged or empty input; Message says which and where
  WriteFailed, // the sink refused bytes; its owner knows why
  Stopped,     // the stop request was seen
};

struct TConvertResult {
  TConvertStatus Status = TConvertStatus::Done;
  std::string Message;
  // What the window's notation leaves out without being an error (a lone digit
  // at the end of a line), said once for the first place; empty when none.
  std::string Note;
  uint64_t MidiBytes = 0; // bytes the output stands for
  uint64_t Lines = 0;     // lines written to a text output
};

struct TConvertRequest {
  std::string InputName;
  std::string OutputName; // its extension decides the output form, unless given
  // Bytes per hex line, as the window's split setting: 0 or less for no cut.
  int SplitThreshold = -1;
  // Polled between pieces of work (at least every few milliseconds); true stops
  // the conversion with Stopped.
  std::function<bool()> StopRequested;
  // The output form when the name says none (standard output, a device).
  std::optional<TSaveForm> OutputForm;
};

// Converts the input (kind by its extension, as the window loads it) into the
// sink (form by the output's extension, as the window saves it). A ".txt" output
// from ".txt" input copies the lines as they are, with LF line ends. A ".mid"
// output is refused.
TConvertResult ConvertStream(const TConvertRequest& request, TByteSink& sink);

// Message texts, filled in with FormatText.
inline constexpr char ConvertNulInTextText[] = "%s:%d:%d: a NUL character: this is no hex text";
inline constexpr char ConvertDamagedMidiText[] = "%s is damaged (%s); nothing was converted";
inline constexpr char NoSysExInFileText[] = "no System Exclusive messages in %s";
inline constexpr char ConvertNoMidiOutputText[] = "%s: MIDI files are read, not written";
inline constexpr char LoneHexDigitText[] =
    "%s:%d:%d: a lone hex digit \"%s\" at the end of the line (a byte takes two digits)";
inline constexpr char StrayLastCharacterText[] = "%s:%d:%d: Unexpected character: \"%s\"";

} // namespace pelrow
