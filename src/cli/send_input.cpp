// Reading and checking what a send transmits.
#include "cli/send_input.h"

#include "app/file_loader.h"
#include "app/hex_notation.h"
#include "app/stream_convert.h"
#include "app/whole_messages.h"
#include "cli/interrupt.h"
#include "files/midi_smf.h"
#include "support/clock.h"
#include "support/hex_digits.h"
#include "support/text_format.h"

#include <algorithm>
#include <cstring>
#include <string_view>
#include <utility>

namespace pelrow::cli {

namespace {

// The parser's own report starts so; the rest is "LINE:COLUMN: ...".
constexpr std::string_view ParserLinePrefix = "line ";
constexpr const char* TextStandardInputFailed = "standard input could not be read: %s";
constexpr const char* TextStandardInputStopped = "reading standard input was stopped";
constexpr const char* TextNoMessage =
    "%s:%d:%d: bytes that form no MIDI message (data without a status byte, a lone F7 or a "
    "message cut short); use --raw to send them as they are";

// Only the end is trimmed: the parser skips leading blanks itself, and keeping
// them makes its columns those of the file.
std::string_view WithoutTrailingBlanks(std::string_view text) {
  while (!text.empty() && static_cast<unsigned char>(text.back()) <= 32)
    text.remove_suffix(1);
  return text;
}

// A text as the window's loader takes a text file: it ends at a NUL character.
void SetTextLines(std::string_view text, TVKStrings& lines) {
  lines.SetText(text.substr(0, std::min(text.size(), text.find('\0'))));
}

// The 1-based column of a last character that the parser never reads (a byte
// begins only where two characters remain), or 0 when every character was read.
// Reads the line as the parser does: blanks, two-digit bytes, a comment ends it.
int UnreadLastColumn(std::string_view text) {
  std::size_t i = 0;
  while (i + 1 < text.size()) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    if (c <= 32) {
      ++i;
    } else if (HexDigitValue(text[i]) >= 0 && HexDigitValue(text[i + 1]) >= 0) {
      i += 2;
    } else if (c == ';' || c == '#' || (c == '/' && text[i + 1] == '/')) {
      return 0;
    } else {
      ++i;
    }
  }
  const bool last = i + 1 == text.size() && static_cast<unsigned char>(text[i]) > 32 &&
                    text[i] != ';' && text[i] != '#';
  return last ? static_cast<int>(text.size()) : 0;
}

// The 1-based column of the first digit of a line's byte number index: the
// shortest start of the line that holds index + 1 bytes ends with its second digit.
int ByteColumn(std::string_view text, int index) {
  THexParser parser;
  size_t low = 2, high = text.size();
  while (low < high) {
    const size_t middle = (low + high) / 2;
    int count = 0;
    parser.ParseLine(0, text.substr(0, middle), count);
    if (count > index)
      high = middle;
    else
      low = middle + 1;
  }
  return static_cast<int>(low) - 1;
}

} // namespace

bool LoadFileLines(const std::string& fileName, int splitThreshold, TVKStrings& lines,
                   std::string& error) {
  TFileLoader loader(SteadyClock());
  loader.ReadStreams = true;
  loader.Stop = &InterruptFlag();
  std::string failure;
  loader.ShowStatus = [&](const std::string& text, TStatusSide, TStatusKind kind, bool) {
    if ((kind == TStatusKind::Error || kind == TStatusKind::ErrorBox) && failure.empty())
      failure = text;
  };
  const bool midiFile = FileKindOf(fileName) == TFileKind::MidiFile;
  if (loader.LoadFile(fileName, lines, splitThreshold)) {
    if (!midiFile || lines.Count() > 0)
      return true;
    failure = FormatText(NoSysExInFileText, fileName.c_str());
  } else if (midiFile && failure.starts_with("Error: ")) {
    failure = SMFErrorOfFile(fileName, failure);
  }
  error = failure;
  return false;
}

bool LooksLikeRawBytes(std::string_view text) {
  for (const char c : text)
    if (static_cast<unsigned char>(c) > 32)
      return static_cast<unsigned char>(c) >= 0x80;
  return false;
}

bool ReadStandardInput(int fd, TInputFormat format, int splitThreshold, TVKStrings& lines,
                       std::string& error) {
  std::size_t size = 0;
  int failure = 0;
  const auto bytes = ReadAllBytes(fd, &InterruptFlag(), size, failure);
  if (!bytes) {
    error = failure == 0 ? std::string(TextStandardInputStopped)
                         : FormatText(TextStandardInputFailed, std::strerror(failure));
    return false;
  }
  const std::string_view text(reinterpret_cast<const char*>(bytes.get()), size);
  lines.Clear();
  if (format == TInputFormat::Syx || (format == TInputFormat::Auto && LooksLikeRawBytes(text))) {
    const TShowStatus noProgress; // the appender keeps a reference to it
    THexLineAppender appender(lines, splitThreshold, false, size, noProgress);
    appender.SetStop(&InterruptFlag());
    appender.Append(bytes.get(), size);
  } else {
    SetTextLines(text, lines);
  }
  return true;
}

bool CheckHexLines(const TVKStrings& lines, int first, const std::string& sourceName,
                   int64_t& bytes, std::string& error) {
  std::string report;
  THexParser parser([&](const std::string& text, TStatusSide, TStatusKind, bool) {
    if (report.empty())
      report = text;
  });
  for (int i = first; i < lines.Count(); ++i) {
    int count = 0;
    parser.ParseLine(i - first, WithoutTrailingBlanks(lines[i]), count);
    if (!report.empty()) {
      error = std::string_view(report).starts_with(ParserLinePrefix)
                  ? sourceName + ":" + report.substr(ParserLinePrefix.size())
                  : sourceName + ": " + report;
      return false;
    }
    const std::string_view text = WithoutTrailingBlanks(lines[i]);
    if (const int column = UnreadLastColumn(text); column > 0) {
      const char last = text.back();
      error = HexDigitValue(last) >= 0
                  ? FormatText(LoneHexDigitText, sourceName.c_str(), i - first + 1, column,
                               std::string(1, last).c_str())
                  : FormatText(StrayLastCharacterText, sourceName.c_str(), i - first + 1, column,
                               std::string(1, last).c_str());
      return false;
    }
    bytes += count;
  }
  return true;
}

bool ReadSendInput(const std::vector<TSendItem>& items, int standardInput, TInputFormat format,
                   TSendInput& input, std::string& error) {
  TVKStrings piece;
  for (const TSendItem& item : items) {
    std::string name;
    switch (item.Kind) {
    case TSendItem::TKind::File:
      name = item.Text;
      if (!LoadFileLines(item.Text, -1, piece, error))
        return false;
      break;
    case TSendItem::TKind::StandardInput: {
      name = StandardInputName;
      if (!ReadStandardInput(standardInput, format, -1, piece, error))
        return false;
      break;
    }
    case TSendItem::TKind::Hex:
      name = HexOptionName;
      SetTextLines(item.Text, piece);
      break;
    }
    const int first = input.Lines.Count();
    input.Sources.push_back({first, name});
    input.Lines.AddStrings(piece);
    if (!CheckHexLines(input.Lines, first, name, input.Bytes, error))
      return false;
  }
  return true;
}

bool ReadNonEmptySendInput(const std::vector<TSendItem>& items, int standardInput,
                           TInputFormat format, TSendInput& input, const char* emptyText,
                           std::string& error) {
  if (!ReadSendInput(items, standardInput, format, input, error))
    return false;
  if (input.Bytes == 0) {
    error = emptyText;
    return false;
  }
  return true;
}

} // namespace pelrow::cli

namespace pelrow::cli {

bool CheckWholeMessages(const TSendInput& input, std::string& error) {
  // A SysEx is never longer than the whole input; its units are not kept.
  TWholeMessageFramer framer(static_cast<size_t>(input.Bytes) + 1);
  THexParser parser;
  TBytePlace cut; // the first message without its end
  const auto takeUnits = [&] {
    for (; framer.HasUnit(); framer.PopUnit())
      if (framer.NextUnit().Cut() && !cut.Known())
        cut = framer.NextUnit().Start;
  };
  for (int i = 0; i < input.Lines.Count() && framer.StrayBytes() == 0 && !cut.Known(); ++i) {
    int count = 0;
    if (parser.ParseLine(i, WithoutTrailingBlanks(input.Lines[i]), count))
      framer.Feed(parser.MsgBuf(), static_cast<size_t>(count), i);
    takeUnits();
  }
  if (framer.StrayBytes() == 0 && !cut.Known()) {
    framer.Finish();
    takeUnits();
  }
  if (framer.StrayBytes() == 0 && !cut.Known())
    return true;
  const TBytePlace stray = framer.FirstStray();
  const bool strayFirst =
      framer.StrayBytes() > 0 &&
      (!cut.Known() || std::pair(stray.Line, stray.Byte) < std::pair(cut.Line, cut.Byte));
  const TBytePlace place = strayFirst ? stray : cut;
  auto source = input.Sources.begin();
  while (source + 1 != input.Sources.end() && (source + 1)->FirstLine <= place.Line)
    ++source;
  const std::string_view line = WithoutTrailingBlanks(input.Lines[place.Line]);
  error = FormatText(TextNoMessage, source->Name.c_str(), place.Line - source->FirstLine + 1,
                     ByteColumn(line, place.Byte));
  return false;
}

} // namespace pelrow::cli
