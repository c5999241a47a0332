// Checking a dump before trusting it: the bytes of a box or a file are read as
// MIDI messages, each is described (length, maker, device, what it is) and every
// problem is found with its line: a System Exclusive message without F7 or cut by
// another status byte, a byte above 7F inside one, bytes outside any message, a
// place the receive path marked as damaged, checksum and byte count errors, and
// data that holds no message at all. A place where the receive path marked an
// interruption of the MIDI system is a warning: input may be missing there.
// The window and pelrow-cli both report what this finds; nothing here changes the
// data.
#pragma once

#include "app/hex_notation.h"
#include "app/status_report.h"
#include "app/sysex_names.h"

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace pelrow {

class TVKStrings;

enum class TCheckProblemKind {
  TextError,      // characters that are no hex bytes
  NoEnd,          // a System Exclusive message the data ends in
  Cut,            // a message cut by a status byte before its end
  ByteAbove7F,    // inside a System Exclusive message that goes on to its F7
  OutsideMessage, // data bytes with no status before them, a lone F7
  Damaged,        // a message the receive path marked as damaged
  Lost,           // a loss mark between messages
  Checksum,
  ByteCount,
  NoMessages,      // the whole data; it has no line (0)
  MayBeIncomplete, // a warning: an interruption mark between or inside messages
};

// Whether a problem only says that data may be missing, not that it is wrong.
bool IsWarning(TCheckProblemKind kind);

struct TCheckProblem {
  TCheckProblemKind Kind = TCheckProblemKind::TextError;
  int Line = 0;       // 1-based; 0 for the whole data
  int64_t Offset = 0; // in the bytes the data stands for
  int Message = 0;    // 1-based index of the message it concerns, 0 for none
  int Count = 1;      // bytes, for bytes outside any message
  std::string Text;   // without the line
};

enum class TMessageKind { SystemExclusive, Channel, SystemCommon, RealTime };

struct TCheckedMessage {
  int Index = 0; // 1-based
  int Line = 0;  // where it starts
  int64_t Offset = 0;
  int64_t Length = 0; // its bytes in the data, F0 and F7 included
  TMessageKind Kind = TMessageKind::Channel;
  std::string Name; // "System Exclusive", "Note On, channel 1"
  TManufacturerId Manufacturer;
  std::string ManufacturerName;
  int DeviceId = -1;
  std::string Detail; // "DT1", "Bulk Dump", "General Information: Identity Reply"
  bool Complete = true;
};

// The bytes of the data with the line each came from, the loss marks and the text
// errors found on the way.
class TDumpData {
public:
  TDumpData();
  // One line of hex text, parsed as sending parses it.
  void AddLine(int lineNumber, std::string_view text);
  void AddBytes(int lineNumber, const uint8_t* bytes, size_t count);

  const std::string& Bytes() const { return FBytes; }
  // The line of the byte at offset (the last line for the end of the data).
  int LineAt(int64_t offset) const;

  struct TMark {
    int64_t Offset;
    int Line;
  };
  const std::vector<TMark>& DamageMarks() const { return FMarks; }
  const std::vector<TMark>& Interruptions() const { return FInterruptions; }
  const std::vector<TCheckProblem>& TextErrors() const { return FTextErrors->Problems; }

private:
  // Where the parser's reports go; on the heap, so that the parser's report
  // function still finds it after the data has moved.
  struct TTextErrors {
    std::vector<TCheckProblem> Problems;
    int Line = 0;
    int64_t Offset = 0;
  };

  std::string FBytes;
  std::vector<TMark> FLineStarts; // lines that hold bytes, by first offset
  std::vector<TMark> FMarks;
  std::vector<TMark> FInterruptions;
  std::unique_ptr<TTextErrors> FTextErrors;
  THexParser FParser;
  int FLastLine = 0;
};

// The lines of a box, numbered from 1.
TDumpData DumpDataOfLines(const TVKStrings& lines);

struct TCheckReport {
  std::vector<TCheckedMessage> Messages;
  // In the order of the data, warnings among them; a problem of the whole data last.
  std::vector<TCheckProblem> Problems;
};

enum class TCheckVerdict { Sound, MayBeIncomplete, Faulty };
// Faulty when any problem is more than a warning.
TCheckVerdict CheckVerdict(const TCheckReport& report);

TCheckReport CheckDump(const TDumpData& data);

// "1,024 messages, Roland, 2 checksum errors: lines 17, 230"
std::string CheckSummaryText(const TCheckReport& report);
// "#3, 11 bytes, System Exclusive, Roland (41), device 10, DT1"
std::string CheckedMessageText(const TCheckedMessage& message);
// A number with a comma between groups of three digits.
std::string GroupedNumber(int64_t value);

// At most so many problems get a log line of their own in the window.
constexpr int MaxLoggedProblems = 100;

// The window's report of a check on the box's side: one log line per problem
// ("line 17: ..."; a warning as a warning), then the summary, which stays in the
// status panel.
void ReportCheck(const TCheckReport& report, TStatusSide side, const TShowStatus& showStatus);

} // namespace pelrow
