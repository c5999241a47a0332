// The command line of pelrow-cli: a command word (list, send, receive, request,
// convert), its options and its file names, checked completely before anything is
// opened, so that a mistake costs nothing but its one-line message.
#pragma once

#include "midi/service/midi_backend_choice.h"

#include <cstdint>
#include <string>
#include <vector>

namespace pelrow::cli {

// The exit statuses scripts can rely on.
enum TExitStatus : int {
  ExitOk = 0,
  ExitBadInput = 1, // a file that cannot be read or written, a hex parse error
  ExitUsage = 2,    // a malformed command line, an unknown port
  ExitFailure = 3,  // input lost, a device that failed, a send that did not finish
  // A capture or a checked file that may be incomplete: the MIDI system was
  // interrupted while data flowed, or a message was cut by such an interruption.
  ExitMaybeIncomplete = 4,
};

// How standard input ("-") is read: told apart by its content, or as told.
enum class TInputFormat { Auto, Syx, Text };

enum class TCommand { None, List, Send, Receive, Request, Convert, Check };

// One source of bytes for send, in command-line order.
struct TSendItem {
  enum class TKind { File, StandardInput, Hex };
  TKind Kind = TKind::File;
  std::string Text; // the file name, or the hex text
};

// Until told otherwise, sending goes at the MIDI cable's pace, as a device expects.
constexpr int DefaultSendSpeed = 0;
// A request is answered within this long, or the command gives up; once the reply
// comes, only the quiet time ends it, however long it takes.
constexpr uint32_t DefaultRequestIdleMs = 30000;
// A reply to a request is complete once the input has been quiet this long, as a
// bulk dump in the window.
constexpr uint32_t DefaultRequestQuietMs = 1000;

struct TCliOptions {
  TCommand Command = TCommand::None;
  TMidiBackendKind Backend = TMidiBackendKind::Auto;
  bool ShowHelp = false;
  bool ShowAllHelp = false; // the program's help and every command's, for the manual page
  bool ShowVersion = false;

  bool Json = false;       // list, check
  bool QuietCheck = false; // check: the problems only
  std::string OutPort;
  std::string InPort;
  int Speed = DefaultSendSpeed;
  uint32_t GapMs = 0;
  bool Raw = false;                 // send: bytes that form no MIDI message are not refused
  std::vector<TSendItem> SendItems; // send, check: files, "-" and --hex; request: its --hex
  TInputFormat InputFormat = TInputFormat::Auto; // send, check, convert: of "-"

  std::string ClientName; // the MIDI client name; empty for the program's own

  std::string OutputFile; // receive, request: empty for standard output
  uint32_t QuietMs = 0;   // 0: the input may stay quiet for good
  uint32_t IdleMs = 0;    // 0: no end by silence counted from the start
  bool Timestamps = false;
  int Count = 0;          // 0: no limit
  uint32_t TimeoutMs = 0; // 0: no limit
  int Split = 0;          // bytes per line, 0: lines are cut at status bytes only
  bool SysExOnly = false;
  bool ActiveSensing = false;
  bool Clock = false;

  std::string ConvertIn, ConvertOut;
  std::string SplitFolder; // convert: one file per System Exclusive message here

  // The first problem with the command line, as the one line the user sees.
  std::string Error;
};

// args are the arguments after the program path.
TCliOptions ParseCliArguments(const std::vector<std::string>& args);

// The help of a command, or of the program for TCommand::None.
std::string HelpText(TCommand command);
// The program's help followed by every command's.
std::string AllHelpText();
const char* CommandName(TCommand command);

// The speed setting whose pace is closest to bytesPerSecond; false when the rate
// lies outside what the paced speeds reach.
bool SpeedForRate(int64_t bytesPerSecond, int& speed);
// The rates that --rate accepts.
int64_t LowestRate();
int64_t HighestRate();

} // namespace pelrow::cli
