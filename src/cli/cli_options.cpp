// Reading pelrow-cli's command line into its options.
#include "cli/cli_options.h"

#include "app/command_line.h"
#include "app/file_loader.h"
#include "app/file_saver.h"
#include "app/send_rate.h"
#include "cli/output_file.h"
#include "support/text_format.h"

#include <algorithm>
#include <charconv>
#include <climits>
#include <cmath>
#include <string_view>

namespace pelrow::cli {

namespace {

constexpr const char* TextNoCommand =
    "no command given (use list, send, receive, request, convert or check)";
constexpr const char* TextUnknownCommand =
    "unknown command \"%s\" (use list, send, receive, request, convert or check)";
constexpr const char* TextUnknownOption = "unknown option \"%s\"";
constexpr const char* TextNotForCommand = "%s does not take %s";
constexpr const char* TextNeedsValue = "%s needs a value";
constexpr const char* TextNotANumber = "%s takes a whole number from %d to %d, not \"%s\"";
constexpr const char* TextMissing = "%s needs %s";
constexpr const char* TextSpeedAndRate = "--speed and --rate exclude each other";
constexpr const char* TextRateRange = "--rate takes %d to %d bytes per second, not %d";
constexpr const char* TextNothingToSend = "send needs files, \"-\" or --hex";
constexpr const char* TextStandardInputTwice = "\"-\" can be read only once";
constexpr const char* TextNoArguments = "%s takes no file names, not \"%s\"";
constexpr const char* TextConvertArguments = "convert needs IN and OUT, or --split DIR and IN";
constexpr const char* TextNothingToCheck = "check needs files or \"-\"";
constexpr const char* TextBadFormat = "--format takes syx or txt, not \"%s\"";
constexpr const char* TextMidiFileOutput = "%s: .mid files can be read, not written";
constexpr const char* TextTimestampsInSyx =
    "--timestamps writes comment lines, which a .syx file cannot hold; use .txt";
constexpr const char* TextEmptyName = "--name needs a client name";
constexpr const char* TextGivenTwice = "%s may be given only once";

// The receive help names the limit of what waits for standard output.
static_assert(TOutputWriter::DefaultLimitBytes == std::size_t(256) << 20);

constexpr const char* TextProgramHelp =
    "Usage: pelrow-cli [--midi=alsa|jack|loopback] [--name NAME] COMMAND [OPTIONS]\n"
    "Sends and receives MIDI System Exclusive messages and bulk dumps from a\n"
    "terminal, on the same engine as the Pelrow window.\n"
    "\n"
    "Commands:\n"
    "  list          the MIDI ports, with the names the other commands take\n"
    "  send          send .syx, .mid or .txt files, hex text or --hex, paced\n"
    "  receive       write what arrives as hex lines or to a .syx or .txt file\n"
    "  request       send a dump request and capture the reply\n"
    "  convert       convert between .syx, .txt and .mid (read only), or split\n"
    "                a dump into one .syx file per message\n"
    "  check         check dumps: message ends, stray bytes, checksums\n"
    "\n"
    "Options of every command:\n"
    "  --midi=alsa|jack|loopback  the MIDI system; by default ALSA when its\n"
    "                sequencer exists, else JACK when a server runs\n"
    "  --name NAME   the client name others see (default Pelrow)\n"
    "  -h, --help    show this text, or a command's own: COMMAND --help\n"
    "  --version     show the version\n"
    "\n"
    "Files, pipes and FIFOs are read alike; \"-\" is standard input (raw .syx\n"
    "bytes or hex text, told apart by content) and, as an output, standard output.\n"
    "Devices, FIFOs and standard output are written in place; a file is replaced\n"
    "only once its new content is complete.\n"
    "\n"
    "Exit status: 0 done, 1 bad input or an output that cannot be written, 2 bad\n"
    "usage or unknown port, 3 data lost or a device failure, 4 a capture or file\n"
    "that may be incomplete (see receive --help); 128 + the signal when\n"
    "one stopped it: 130 Ctrl-C (SIGINT), 143 SIGTERM, 129 SIGHUP (its terminal\n"
    "was closed), 131 SIGQUIT, each once what arrived was saved; a closed pipe\n"
    "ends it as SIGPIPE ends any tool (141).\n"
    "\n"
    "Examples:\n"
    "  # back up a synthesizer's memory: send its dump request, save the reply\n"
    "  pelrow-cli request --out \"Synth:Synth MIDI 1\" --in \"Synth:Synth MIDI 1\" \\\n"
    "      --hex \"F0 43 20 7F 1C 00 0E 01 00 F7\" -o backup.syx\n"
    "  # send a folder of dumps, with a pause for the device to store each one\n"
    "  pelrow-cli send --out synth --gap 200 patches/*.syx\n"
    "  # turn a dump into hex lines to read or edit (and back the same way)\n"
    "  pelrow-cli convert backup.syx backup.txt\n"
    "  # make sure a backup is sound before relying on it\n"
    "  pelrow-cli check --quiet backup.syx\n";

constexpr const char* TextListHelp =
    "Usage: pelrow-cli list [--json]\n"
    "Lists the MIDI ports, one a line: \"in\" or \"out\", a tab, and the exact name\n"
    "to pass to --in or --out. Those take as well any part of a name that only one\n"
    "port has (\"synth\", letter case and blanks ignored) and, for ALSA, the\n"
    "CLIENT:PORT numbers that aconnect -l shows (\"20:0\").\n"
    "\n"
    "  --json        a JSON array of {\"direction\": \"in\"|\"out\", \"name\": ...}\n";

constexpr const char* TextSendHelp =
    "Usage: pelrow-cli send --out PORT [--speed N | --rate BYTES_PER_S] [--gap MS]\n"
    "                       [--raw] [--format syx|txt] FILE...|-|--hex \"F0 ... F7\"\n"
    "Sends .syx files (raw bytes), .mid files (their System Exclusive events), .txt\n"
    "files, pipes and standard input (\"-\", raw bytes or hex text) line by line, as\n"
    "the window sends its Midi Out box. Everything is read and checked first: a hex\n"
    "error (a lone last digit too) names the file, line and column, and then nothing\n"
    "is sent. So do bytes that form no MIDI message (data bytes without a status\n"
    "byte, a lone F7, a message cut short).\n"
    "\n"
    "  --out PORT    the MIDI output (see pelrow-cli list)\n"
    "  --speed N     the window's speed scale, -1000 (slowest) to 1000; 0, the\n"
    "                default, is the MIDI cable's 3125 bytes per second, and 1000\n"
    "                sends as fast as the port takes it\n"
    "  --rate B      pace at B bytes per second instead\n"
    "  --gap MS      pause MS milliseconds after each System Exclusive message\n"
    "  --hex TEXT    send these hex bytes (may be given more than once)\n"
    "  --raw         send bytes that form no MIDI message as they are; JACK carries\n"
    "                whole messages only, so there they are reported as not sent\n"
    "  --format F    read \"-\" as syx (raw bytes) or txt (hex text), not by content\n"
    "\n"
    "\n"
    "A progress line is shown on standard error when it is a terminal. Ctrl-C stops\n"
    "the send once the output has passed on what it took, and says how much that was.\n";

constexpr const char* TextReceiveHelp =
    "Usage: pelrow-cli receive --in PORT [-o FILE] [--quiet MS] [--idle SEC]\n"
    "                          [--count N] [--timeout MS] [--split N] [--timestamps]\n"
    "                          [FILTERS]\n"
    "Writes every message that arrives as hex lines to standard output, or to FILE\n"
    "(.syx raw bytes, .txt hex lines; a device or FIFO gets hex lines). FILE is\n"
    "checked before the input is opened. It listens before its port is connected,\n"
    "so nothing a source sends at once is missed. What arrived is always written,\n"
    "also on Ctrl-C and when its terminal is closed; a file is replaced only once it\n"
    "is complete, and if that fails what arrived is saved beside it (FILE-1.syx)\n"
    "and the message says where. Standard output gets the lines as they come; a\n"
    "reader that pauses costs no input, and they wait for it (up to 256 MB). The\n"
    "times below count only while the program runs (not while it is stopped).\n"
    "\n"
    "  --in PORT     the MIDI input (see pelrow-cli list)\n"
    "  -o FILE       write to FILE; without it, or with \"-\", to standard output\n"
    "  --quiet MS    stop once the input has been quiet MS ms after it began\n"
    "  --idle SEC    stop once nothing has come for SEC seconds, counted from the\n"
    "                start (so also when nothing comes at all)\n"
    "  --count N     stop after N complete messages\n"
    "  --timeout MS  stop after MS ms in all\n"
    "  --split N     at most N bytes per hex line\n"
    "  --timestamps  a comment line \"; 12.345 s\" before each message: its time\n"
    "                since the input started (hex lines only: the notation ignores\n"
    "                comments, so the lines still send and convert as they are)\n"
    "  --sysex-only      keep System Exclusive messages only\n"
    "  --active-sensing  keep Active Sensing (FE) messages\n"
    "  --clock           keep Timing Clock (F8) messages\n"
    "\n"
    "A progress line (bytes, messages, rate) is shown on standard error when it is\n"
    "a terminal.\n"
    "\n"
    "Exit status 3, with the reason on standard error and what arrived written:\n"
    "input that could not be kept (with its byte count), a last message without\n"
    "its end (cut by --timeout, Ctrl-C or the source), fewer messages than --count\n"
    "asked for (none too), a source that went away or was disconnected, a MIDI\n"
    "system that stopped, standard output that took nothing while 256 MB waited\n"
    "for it. A capture that starts in the middle of a message keeps nothing of it\n"
    "and says so; that and nothing received at all (without --count) leave the\n"
    "status 0.\n"
    "\n"
    "Exit status 4, with the reason on standard error, when what arrived may be\n"
    "incomplete though nothing is known to be lost: the MIDI system was interrupted\n"
    "(a JACK xrun, the program held up) while input came, or messages were cut\n"
    "short. An interruption cuts the message under way, which is kept marked as\n"
    "incomplete and never joined to what came after; the rest of that message is\n"
    "not kept. It is marked \"; !? input may be missing here\" only when input came\n"
    "within a second before it began or after it ended. 0 means: everything that\n"
    "came is whole, and nothing may be missing.\n";

constexpr const char* TextRequestHelp =
    "Usage: pelrow-cli request --out PORT --in PORT --hex \"F0 ... F7\" [-o FILE]\n"
    "                          [--quiet MS] [--idle SEC] [--timeout MS]\n"
    "                          [RECEIVE OPTIONS]\n"
    "Opens the input, sends the request and captures the reply as receive does.\n"
    "A reply is taken whole however long it takes: it ends once the input is quiet.\n"
    "\n"
    "  --out PORT    where the request goes\n"
    "  --in PORT     where the reply comes from\n"
    "  --hex TEXT    the request (may be given more than once)\n"
    "  -o FILE       write the reply to FILE (.syx or .txt), not standard output\n"
    "  --quiet MS    the reply is complete once the input is quiet MS ms (1000)\n"
    "  --idle SEC    give up when no reply has begun within SEC seconds (30)\n"
    "  --timeout MS  stop after MS ms in all (no limit unless given)\n"
    "  --count N     the reply is N complete messages\n"
    "  --speed N, --rate B, --split N, --timestamps and the filters as for send and\n"
    "  receive.\n"
    "\n"
    "Exit status 3: no reply at all, a reply cut by --timeout, fewer messages than\n"
    "--count, or any of the failures of receive; 4 a reply that may be incomplete,\n"
    "as for receive.\n";

constexpr const char* TextConvertHelp =
    "Usage: pelrow-cli convert [--split N] [--format syx|txt] IN OUT\n"
    "       pelrow-cli convert --split DIR IN\n"
    "Converts between .syx (raw bytes), .txt (hex lines) and .mid (read only: its\n"
    "System Exclusive events), as the window loads and saves files. IN \"-\" is\n"
    "standard input, OUT \"-\" standard output (hex lines). OUT is replaced only\n"
    "once it is complete; input that is damaged or holds no MIDI bytes is refused\n"
    "and OUT left as it was. Another extension of OUT is an error.\n"
    "\n"
    "  --split N     at most N bytes per hex line\n"
    "  --format F    read IN \"-\" as syx (raw bytes) or txt (hex text)\n"
    "  --split DIR   with IN alone: write each System Exclusive message of IN to a\n"
    "                .syx file of its own in DIR, numbered and named after the\n"
    "                maker (0001-Roland.syx); DIR is made when missing, and\n"
    "                existing files are never replaced\n";

constexpr const char* TextCheckHelp =
    "Usage: pelrow-cli check [--quiet] [--json] [--format syx|txt] FILE...|-\n"
    "Checks .syx, .mid and .txt files and standard input (\"-\", hex text or raw\n"
    "bytes) as the window's Check data does: one line per message with its length,\n"
    "maker and device, and one line per problem, as FILE:LINE: TEXT (lines as the\n"
    "window shows the file): System Exclusive messages without F7 or cut by another\n"
    "status byte, bytes above 7F inside them, bytes outside any message, loss marks\n"
    "of the receive path (\"; !!\"), Roland and Yamaha checksum and byte count\n"
    "errors, and a file that holds no MIDI messages at all. Where the receive path\n"
    "marked an interruption of the MIDI system (\"; !?\"), the line says that the\n"
    "data may be incomplete there.\n"
    "\n"
    "  --quiet       the problems only\n"
    "  --json        a JSON array with one object per file\n"
    "  --format F    read \"-\" as syx (raw bytes) or txt (hex text), not by content\n"
    "\n"
    "Exit status: 0 when everything is sound, 1 when a problem was found or a file\n"
    "could not be read, 4 when the only findings are places that may be incomplete.\n";

enum class TOptionId {
  Midi,
  Help,
  HelpAll,
  Version,
  Json,
  Out,
  In,
  Speed,
  Rate,
  Gap,
  Raw,
  Hex,
  Name,
  Idle,
  Timestamps,
  Output,
  Quiet,
  Count,
  Timeout,
  Split,
  SysExOnly,
  ActiveSensing,
  Clock,
  QuietCheck,
  Format
};

constexpr unsigned Bit(TCommand command) {
  return 1u << static_cast<unsigned>(command);
}
constexpr unsigned AllCommands = 0xFFFF;
constexpr unsigned Capturing = Bit(TCommand::Receive) | Bit(TCommand::Request);
constexpr unsigned Sending = Bit(TCommand::Send) | Bit(TCommand::Request);
constexpr unsigned UsingMidi = Bit(TCommand::None) | Bit(TCommand::List) | Capturing | Sending;

struct TOptionDefinition {
  std::string_view Name;
  std::string_view ShortName;
  TOptionId Id;
  bool TakesValue;
  unsigned Commands;
};

constexpr TOptionDefinition Options[] = {
    {"--midi", "", TOptionId::Midi, false, AllCommands},
    {"--name", "", TOptionId::Name, true, UsingMidi},
    {"--help", "-h", TOptionId::Help, false, AllCommands},
    {"--help-all", "", TOptionId::HelpAll, false, AllCommands},
    {"--version", "", TOptionId::Version, false, AllCommands},
    {"--json", "", TOptionId::Json, false, Bit(TCommand::List) | Bit(TCommand::Check)},
    {"--out", "", TOptionId::Out, true, Sending},
    {"--in", "", TOptionId::In, true, Capturing},
    {"--speed", "", TOptionId::Speed, true, Sending},
    {"--rate", "", TOptionId::Rate, true, Sending},
    {"--gap", "", TOptionId::Gap, true, Bit(TCommand::Send)},
    {"--raw", "", TOptionId::Raw, false, Bit(TCommand::Send)},
    {"--hex", "", TOptionId::Hex, true, Sending},
    {"--output", "-o", TOptionId::Output, true, Capturing},
    {"--quiet", "", TOptionId::Quiet, true, Capturing},
    {"--count", "", TOptionId::Count, true, Capturing},
    {"--timeout", "", TOptionId::Timeout, true, Capturing},
    {"--idle", "", TOptionId::Idle, true, Capturing},
    {"--timestamps", "", TOptionId::Timestamps, false, Capturing},
    {"--split", "", TOptionId::Split, true, Capturing | Bit(TCommand::Convert)},
    {"--sysex-only", "", TOptionId::SysExOnly, false, Capturing},
    {"--active-sensing", "", TOptionId::ActiveSensing, false, Capturing},
    {"--clock", "", TOptionId::Clock, false, Capturing},
    // For check, --quiet is a switch: the problems only.
    {"--quiet", "", TOptionId::QuietCheck, false, Bit(TCommand::Check)},
    {"--format", "", TOptionId::Format, true,
     Bit(TCommand::Send) | Bit(TCommand::Check) | Bit(TCommand::Convert)},
};

constexpr struct {
  std::string_view Name;
  TCommand Command;
} Commands[] = {{"list", TCommand::List},       {"send", TCommand::Send},
                {"receive", TCommand::Receive}, {"request", TCommand::Request},
                {"convert", TCommand::Convert}, {"check", TCommand::Check}};

TCommand CommandNamed(std::string_view name) {
  for (const auto& entry : Commands)
    if (entry.Name == name)
      return entry.Command;
  return TCommand::None;
}

// An option name may mean different things to different commands: the one for
// the command named so far, else the first.
const TOptionDefinition* FindOption(std::string_view name, TCommand command) {
  const TOptionDefinition* first = nullptr;
  for (const TOptionDefinition& definition : Options) {
    if (definition.Name != name && (definition.ShortName.empty() || definition.ShortName != name))
      continue;
    if ((definition.Commands & Bit(command)) != 0)
      return &definition;
    if (first == nullptr)
      first = &definition;
  }
  return first;
}

struct TGivenOption {
  const TOptionDefinition* Definition;
  std::string Arg;  // as typed, for messages
  std::string Name; // the option's name as typed ("-o", "--quiet")
  std::string Value;
};

// An option that takes a value takes one, but for the sources of a send: a
// second would silently replace the first. Switches may come twice.
bool GivenOnce(const TOptionDefinition& definition) {
  return definition.Id != TOptionId::Hex &&
         (definition.TakesValue || definition.Id == TOptionId::Midi);
}

// The parse as it goes: the first error is kept and later ones are dropped.
class TParser {
public:
  explicit TParser(TCliOptions& options) : FOptions(options) {}

  void Fail(std::string error) {
    if (FOptions.Error.empty())
      FOptions.Error = std::move(error);
  }
  bool Failed() const { return !FOptions.Error.empty(); }

  bool Number(const TGivenOption& given, long long low, long long high, long long& value) {
    const std::string& text = given.Value;
    const char* end = text.data() + text.size();
    const auto [stop, error] = std::from_chars(text.data(), end, value);
    if (text.empty() || error != std::errc() || stop != end || value < low || value > high) {
      Fail(FormatText(TextNotANumber, std::string(given.Definition->Name).c_str(), low, high,
                      text.c_str()));
      return false;
    }
    return true;
  }

private:
  TCliOptions& FOptions;
};

// A ".mid" name, known the way the file loader knows it.
bool IsMidiFile(const std::string& fileName) {
  return FileKindOf(fileName) == TFileKind::MidiFile;
}

// The names of standard output; it is written as it is, never replaced.
bool IsStandardOutput(std::string_view name) {
  return name == "-" || name == "/dev/stdout";
}

double RateOfSpeed(int speed) {
  return 1000.0 / (WireMsPerByte * SendSpeedFactor(speed));
}

} // namespace

const char* CommandName(TCommand command) {
  for (const auto& entry : Commands)
    if (entry.Command == command)
      return entry.Name.data();
  return "pelrow-cli";
}

std::string AllHelpText() {
  std::string text = TextProgramHelp;
  for (const auto& entry : Commands)
    text += "\n" + HelpText(entry.Command);
  return text;
}

std::string HelpText(TCommand command) {
  switch (command) {
  case TCommand::List:
    return TextListHelp;
  case TCommand::Send:
    return TextSendHelp;
  case TCommand::Receive:
    return TextReceiveHelp;
  case TCommand::Request:
    return TextRequestHelp;
  case TCommand::Convert:
    return TextConvertHelp;
  case TCommand::Check:
    return TextCheckHelp;
  case TCommand::None:
    break;
  }
  return TextProgramHelp;
}

// The paced speeds end one below SendSpeedMax, which sends without pacing.
int64_t LowestRate() {
  return static_cast<int64_t>(std::ceil(RateOfSpeed(SendSpeedMin)));
}

int64_t HighestRate() {
  return static_cast<int64_t>(std::floor(RateOfSpeed(SendSpeedMax - 1)));
}

bool SpeedForRate(int64_t bytesPerSecond, int& speed) {
  if (bytesPerSecond < LowestRate() || bytesPerSecond > HighestRate())
    return false;
  // The inverse of SendSpeedFactor: the factor is the wire rate over the rate.
  const double factor = RateOfSpeed(0) / static_cast<double>(bytesPerSecond);
  speed = static_cast<int>(std::lround(std::log(factor) * 1000.0 / -2.3));
  if (speed < SendSpeedMin)
    speed = SendSpeedMin;
  if (speed > SendSpeedMax - 1)
    speed = SendSpeedMax - 1;
  return true;
}

TCliOptions ParseCliArguments(const std::vector<std::string>& args) {
  TCliOptions options;
  TParser parser(options);
  std::vector<TGivenOption> given;
  std::vector<std::string> positionals;
  // Files, "-" and --hex texts in the order they were named: that is the order
  // in which they are sent.
  std::vector<TSendItem> sequence;
  bool optionsEnded = false;

  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    const std::string_view a = arg;
    if (optionsEnded || a == "-" || !a.starts_with('-')) {
      if (!positionals.empty()) // the first one is the command
        sequence.push_back(
            {a == "-" && !optionsEnded ? TSendItem::TKind::StandardInput : TSendItem::TKind::File,
             arg});
      positionals.push_back(arg);
      continue;
    }
    if (a == "--") {
      optionsEnded = true;
      continue;
    }
    const size_t equals = a.find('=');
    const std::string_view name = a.starts_with("--") ? a.substr(0, equals) : a;
    const TOptionDefinition* definition =
        FindOption(name, positionals.empty() ? TCommand::None : CommandNamed(positionals.front()));
    if (definition == nullptr) {
      parser.Fail(FormatText(TextUnknownOption, arg.c_str()));
      continue;
    }
    TGivenOption option{definition, arg, std::string(name), {}};
    if (definition->Id == TOptionId::Midi) {
      // The window's own reading of the option, so that both accept the same;
      // "--midi jack" is read as "--midi=jack", as other tools take it.
      std::string spelled = arg;
      if (equals == std::string_view::npos && i + 1 < args.size())
        spelled += "=" + args[++i];
      const TCommandLine midi = ParseCommandLine({spelled});
      if (!midi.Error.empty())
        parser.Fail(midi.Error);
      else
        options.Backend = midi.Backend;
    } else if (definition->TakesValue) {
      if (equals != std::string_view::npos && a.starts_with("--"))
        option.Value = arg.substr(equals + 1);
      else if (i + 1 < args.size())
        option.Value = args[++i];
      else
        parser.Fail(FormatText(TextNeedsValue, std::string(definition->Name).c_str()));
    } else if (equals != std::string_view::npos) {
      parser.Fail(FormatText(TextUnknownOption, arg.c_str()));
    }
    if (definition->Id == TOptionId::Hex)
      sequence.push_back({TSendItem::TKind::Hex, option.Value});
    given.push_back(std::move(option));
  }

  if (!positionals.empty()) {
    options.Command = CommandNamed(positionals.front());
    if (options.Command == TCommand::None)
      parser.Fail(FormatText(TextUnknownCommand, positionals.front().c_str()));
    positionals.erase(positionals.begin());
  }

  for (const TGivenOption& option : given) {
    if (option.Definition->Id == TOptionId::Help)
      options.ShowHelp = true;
    else if (option.Definition->Id == TOptionId::HelpAll)
      options.ShowHelp = options.ShowAllHelp = true;
    else if (option.Definition->Id == TOptionId::Version)
      options.ShowVersion = true;
  }
  if (options.ShowHelp || options.ShowVersion)
    return options;
  if (options.Command == TCommand::None) {
    parser.Fail(TextNoCommand);
    return options;
  }
  const char* command = CommandName(options.Command);

  bool speedGiven = false;
  bool rateGiven = false;
  bool quietGiven = false;
  bool idleGiven = false;
  const TGivenOption* split = nullptr;
  long long value = 0;
  std::vector<TOptionId> seen;
  for (const TGivenOption& option : given) {
    if ((option.Definition->Commands & Bit(options.Command)) == 0) {
      parser.Fail(FormatText(TextNotForCommand, command, option.Arg.c_str()));
      continue;
    }
    if (GivenOnce(*option.Definition)) {
      if (std::find(seen.begin(), seen.end(), option.Definition->Id) != seen.end()) {
        parser.Fail(FormatText(TextGivenTwice, option.Name.c_str()));
        continue;
      }
      seen.push_back(option.Definition->Id);
    }
    switch (option.Definition->Id) {
    case TOptionId::Midi:
    case TOptionId::Help:
    case TOptionId::HelpAll:
    case TOptionId::Version:
      break;
    case TOptionId::Json:
      options.Json = true;
      break;
    case TOptionId::Raw:
      options.Raw = true;
      break;
    case TOptionId::Out:
      options.OutPort = option.Value;
      break;
    case TOptionId::In:
      options.InPort = option.Value;
      break;
    case TOptionId::Speed:
      speedGiven = true;
      if (parser.Number(option, SendSpeedMin, SendSpeedMax, value))
        options.Speed = static_cast<int>(value);
      break;
    case TOptionId::Rate:
      rateGiven = true;
      if (parser.Number(option, 1, INT_MAX, value) && !SpeedForRate(value, options.Speed))
        parser.Fail(FormatText(TextRateRange, static_cast<long long>(LowestRate()),
                               static_cast<long long>(HighestRate()), value));
      break;
    case TOptionId::Gap:
      if (parser.Number(option, 0, 600000, value))
        options.GapMs = static_cast<uint32_t>(value);
      break;
    case TOptionId::Hex:
      break;
    case TOptionId::Name:
      options.ClientName = option.Value;
      if (option.Value.empty())
        parser.Fail(TextEmptyName);
      break;
    case TOptionId::Idle:
      idleGiven = true;
      if (parser.Number(option, 1, INT32_MAX / 1000, value))
        options.IdleMs = static_cast<uint32_t>(value) * 1000;
      break;
    case TOptionId::Timestamps:
      options.Timestamps = true;
      break;
    case TOptionId::Output:
      // "-o -" is standard output, as the default.
      options.OutputFile = IsStandardOutput(option.Value) ? std::string() : option.Value;
      break;
    case TOptionId::Quiet:
      quietGiven = true;
      if (parser.Number(option, 1, INT32_MAX, value))
        options.QuietMs = static_cast<uint32_t>(value);
      break;
    case TOptionId::Count:
      if (parser.Number(option, 1, INT32_MAX, value))
        options.Count = static_cast<int>(value);
      break;
    case TOptionId::Timeout:
      if (parser.Number(option, 0, INT32_MAX, value))
        options.TimeoutMs = static_cast<uint32_t>(value);
      break;
    case TOptionId::Split:
      split = &option; // a number, or for convert with IN alone a folder
      break;
    case TOptionId::SysExOnly:
      options.SysExOnly = true;
      break;
    case TOptionId::ActiveSensing:
      options.ActiveSensing = true;
      break;
    case TOptionId::Clock:
      options.Clock = true;
      break;
    case TOptionId::QuietCheck:
      options.QuietCheck = true;
      break;
    case TOptionId::Format:
      if (option.Value == "syx")
        options.InputFormat = TInputFormat::Syx;
      else if (option.Value == "txt")
        options.InputFormat = TInputFormat::Text;
      else
        parser.Fail(FormatText(TextBadFormat, option.Value.c_str()));
      break;
    }
  }
  if (speedGiven && rateGiven)
    parser.Fail(TextSpeedAndRate);
  const bool splitIntoFolder =
      split != nullptr && options.Command == TCommand::Convert && positionals.size() == 1;
  if (splitIntoFolder)
    options.SplitFolder = split->Value;
  else if (split != nullptr && parser.Number(*split, 1, INT32_MAX, value))
    options.Split = static_cast<int>(value);

  switch (options.Command) {
  case TCommand::Send:
    options.SendItems = sequence;
    if (std::count_if(sequence.begin(), sequence.end(), [](const TSendItem& item) {
          return item.Kind == TSendItem::TKind::StandardInput;
        }) > 1)
      parser.Fail(TextStandardInputTwice);
    if (options.OutPort.empty())
      parser.Fail(FormatText(TextMissing, command, "--out PORT"));
    else if (options.SendItems.empty())
      parser.Fail(TextNothingToSend);
    break;
  case TCommand::Request:
    for (const TSendItem& item : sequence)
      if (item.Kind == TSendItem::TKind::Hex)
        options.SendItems.push_back(item);
    if (!quietGiven)
      options.QuietMs = DefaultRequestQuietMs;
    if (!idleGiven)
      options.IdleMs = DefaultRequestIdleMs;
    if (options.OutPort.empty())
      parser.Fail(FormatText(TextMissing, command, "--out PORT"));
    if (options.InPort.empty())
      parser.Fail(FormatText(TextMissing, command, "--in PORT"));
    if (options.SendItems.empty())
      parser.Fail(FormatText(TextMissing, command, "--hex \"F0 ... F7\""));
    [[fallthrough]];
  case TCommand::Receive:
    if (options.InPort.empty())
      parser.Fail(FormatText(TextMissing, command, "--in PORT"));
    if (!positionals.empty())
      parser.Fail(FormatText(TextNoArguments, command, positionals.front().c_str()));
    if (IsMidiFile(options.OutputFile))
      parser.Fail(FormatText(TextMidiFileOutput, options.OutputFile.c_str()));
    else if (options.Timestamps && !options.OutputFile.empty() &&
             SaveFormOf(options.OutputFile) != TSaveForm::Text)
      parser.Fail(TextTimestampsInSyx);
    break;
  case TCommand::Convert:
    if (splitIntoFolder) {
      options.ConvertIn = positionals[0];
      if (options.SplitFolder.empty())
        parser.Fail(FormatText(TextNeedsValue, "--split"));
      break;
    }
    if (positionals.size() != 2) {
      parser.Fail(TextConvertArguments);
      break;
    }
    options.ConvertIn = positionals[0];
    options.ConvertOut = IsStandardOutput(positionals[1]) ? "-" : positionals[1];
    if (IsMidiFile(options.ConvertOut))
      parser.Fail(FormatText(TextMidiFileOutput, options.ConvertOut.c_str()));
    break;
  case TCommand::Check:
    options.SendItems = sequence;
    if (options.SendItems.empty())
      parser.Fail(TextNothingToCheck);
    else if (std::count_if(sequence.begin(), sequence.end(), [](const TSendItem& item) {
               return item.Kind == TSendItem::TKind::StandardInput;
             }) > 1)
      parser.Fail(TextStandardInputTwice);
    break;
  case TCommand::List:
    if (!positionals.empty())
      parser.Fail(FormatText(TextNoArguments, command, positionals.front().c_str()));
    break;
  case TCommand::None:
    break;
  }
  return options;
}

} // namespace pelrow::cli
