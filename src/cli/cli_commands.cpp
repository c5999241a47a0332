// The commands that need no more than a few lines: list and convert, and the
// choice of command.
#include "cli/cli_commands.h"

#include "app/file_loader.h"
#include "app/file_saver.h"
#include "app/hex_notation.h"
#include "app/line_formatter.h"
#include "app/split_saver.h"
#include "app/stream_convert.h"
#include "cli/capture_command.h"
#include "cli/check_command.h"
#include "cli/interrupt.h"
#include "cli/midi_session.h"
#include "cli/output_file.h"
#include "cli/send_command.h"
#include "cli/send_input.h"
#include "editor/vkstrings.h"
#include "support/file_name_text.h"
#include "support/hex_digits.h"
#include "support/safe_file.h"
#include "support/text_format.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace pelrow::cli {

namespace {

constexpr const char* ProgramPrefix = "pelrow-cli: ";
constexpr const char* TextSplitFileExists =
    "%s already exists (%d of the files to write exist; nothing was written)";
constexpr const char* TextCannotMakeFolder = "Cannot create folder \"%s\". %s";
constexpr const char* TextEmptyInput = "%s holds no MIDI bytes; nothing was written";
constexpr const char* TextWriteFailed = "Error while writing to %s. %s";

int RunList(const TCliOptions& options, TCliStreams& streams) {
  TMidiSession session;
  std::string error;
  // The ports there are, the loopback's at least, are listed also when the MIDI
  // system asked for cannot be used; the status says it could not.
  const bool started = StartMidi(options, session, error);
  for (const std::string& note : session.Notes)
    ReportError(streams, note);
  if (!started)
    ReportError(streams, error);
  streams.Out->Write(options.Json ? PortListJson(session.Ports) : PortListText(session.Ports));
  return started ? ExitOk : ExitFailure;
}

// The folder is made when it is missing (its parent must exist, as for mkdir).
bool PrepareSplitFolder(const std::string& folder, std::string& error) {
  struct stat info {};
  if (::stat(folder.c_str(), &info) == 0 && S_ISDIR(info.st_mode))
    return true;
  if (::mkdir(folder.c_str(), 0777) == 0)
    return true;
  error = FormatText(TextCannotMakeFolder, folder.c_str(), std::strerror(errno));
  return false;
}

// Hex text becomes bytes only when all of it is valid: the saver would skip what
// it cannot read, and the file would silently lack it.
bool CheckTextInput(const TCliOptions& options, const TVKStrings& lines, std::string& error) {
  int64_t bytes = 0;
  return FileKindOf(options.ConvertIn) != TFileKind::Text ||
         CheckHexLines(lines, 0, options.ConvertIn, bytes, error);
}

int RunSplit(const TCliOptions& options, TCliStreams& streams) {
  std::string error;
  TVKStrings lines;
  if (!LoadFileLines(options.ConvertIn, -1, lines, error) ||
      !CheckTextInput(options, lines, error) || !PrepareSplitFolder(options.SplitFolder, error)) {
    ReportError(streams, error);
    return ExitBadInput;
  }
  TSplitSaver saver;
  saver.ShowStatus = [&](const std::string& text, TStatusSide, TStatusKind kind, bool) {
    if (kind != TStatusKind::Plain && error.empty())
      error = text;
  };
  // A script cannot be asked: files that exist stay as they are.
  saver.OnConfirmOverwrite = [&](TSplitSaver&, const std::string& folder, int existing,
                                 const std::string& firstExisting) {
    const std::string path =
        folder.ends_with('/') ? folder + firstExisting : folder + "/" + firstExisting;
    error = FormatText(TextSplitFileExists, path.c_str(), existing);
    return false;
  };
  if (!saver.SaveFolder(options.SplitFolder, lines, TStatusSide::Out)) {
    ReportError(streams, error);
    return ExitBadInput;
  }
  return ExitOk;
}

// The streamed conversion goes straight into the opened output.
class TOutputSink : public TByteSink {
public:
  explicit TOutputSink(TOutputTarget& output) : FOutput(output) {}
  bool Write(const char* data, std::size_t size) override {
    return FOutput.Write(std::string_view(data, size));
  }

private:
  TOutputTarget& FOutput;
};

// Converts a named file piece by piece, in constant memory, whatever its size.
bool StreamInto(const TCliOptions& options, TOutputTarget& output, const std::string& outName,
                TSaveForm form, std::string& error) {
  if (!output.IsOpen()) {
    error = FormatText(CannotCreateFileText, FileNameText(outName),
                       std::strerror(output.Failure().Errno));
    return false;
  }
  TOutputSink sink(output);
  TConvertRequest request;
  request.InputName = options.ConvertIn;
  request.OutputName = options.ConvertOut;
  request.OutputForm = form;
  request.SplitThreshold = SplitThreshold(options.Split > 0, options.Split);
  request.StopRequested = Interrupted;
  const TConvertResult result = ConvertStream(request, sink);
  switch (result.Status) {
  case TConvertStatus::Done:
    if (result.MidiBytes == 0 && result.Lines == 0) {
      error = FormatText(TextEmptyInput, options.ConvertIn.c_str());
      break;
    }
    // The window leaves a lone digit out; here it is a mistake to be mended.
    if (!result.Note.empty()) {
      error = result.Note;
      break;
    }
    return output.Commit();
  case TConvertStatus::BadInput:
    error = result.Message;
    break;
  case TConvertStatus::Stopped:
  case TConvertStatus::WriteFailed:
    break;
  }
  output.Abandon();
  return false;
}

bool HoldsMidiBytes(const TVKStrings& lines) {
  THexParser parser;
  int count = 0;
  for (int i = 0; i < lines.Count(); ++i)
    if (parser.ParseLine(i, lines[i], count))
      return true;
  return false;
}

// Reads IN as the window loads a file ("-": standard input) and writes it to the
// opened output in the form given; false with the problem in error.
bool ConvertInto(const TCliOptions& options, TOutputTarget& output, const std::string& outName,
                 TSaveForm form, std::string& error) {
  const int split = SplitThreshold(options.Split > 0, options.Split);
  TVKStrings lines;
  const bool loaded = options.ConvertIn == "-"
                          ? ReadStandardInput(0, options.InputFormat, split, lines, error)
                          : LoadFileLines(options.ConvertIn, split, lines, error);
  if (!loaded || (form == TSaveForm::RawBytes && !CheckTextInput(options, lines, error)))
    return false;
  const std::string inName = options.ConvertIn == "-" ? StandardInputName : options.ConvertIn;
  if (!HoldsMidiBytes(lines)) {
    error = FormatText(TextEmptyInput, inName.c_str());
    return false;
  }
  TFileSaver saver;
  saver.Stop = &InterruptFlag();
  saver.SetShowStatus([&](const std::string& text, TStatusSide, TStatusKind kind, bool) {
    if (kind == TStatusKind::Error || kind == TStatusKind::ErrorBox)
      error = text;
  });
  return saver.SaveTo(output, outName, form, lines, TStatusSide::Out);
}

int RunConvert(const TCliOptions& options, TCliStreams& streams) {
  if (!options.SplitFolder.empty())
    return RunSplit(options, streams);
  std::string error;
  const bool toStandardOutput = options.ConvertOut == "-";
  if (!toStandardOutput && !CheckOutputFile(options.ConvertOut, error)) {
    ReportError(streams, error);
    return ExitBadInput;
  }
  TSaveForm form = TSaveForm::Text;
  if (!OutputFormOf(options.ConvertOut, form, error)) {
    ReportError(streams, error);
    return ExitUsage;
  }
  // The output is opened first: a FIFO waits here for its reader, and a file
  // that cannot be made is known before any of the input is read.
  TOutputTarget file;
  if (!toStandardOutput)
    file.Open(options.ConvertOut, 0666);
  TOutputTarget& output = toStandardOutput ? *streams.Out : file;
  const std::string outName = toStandardOutput ? StandardOutputName : options.ConvertOut;
  const bool converted = options.ConvertIn == "-"
                             ? ConvertInto(options, output, outName, form, error)
                             : StreamInto(options, output, outName, form, error);
  if (Interrupted())
    return InterruptedStatus();
  if (converted || output.BrokenPipe())
    return ExitOk; // a pipe that closed early is FinishOutput's to handle
  if (error.empty() && output.Failed())
    error = FormatText(TextWriteFailed, outName.c_str(), std::strerror(output.Failure().Errno));
  ReportError(streams, error);
  return ExitBadInput;
}

} // namespace

std::string ShownText(const std::string& text) {
  std::string shown;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const auto c = static_cast<unsigned char>(text[i]);
    // A UTF-8 sequence: a lead byte and its continuation bytes (80..BF).
    const std::size_t length = c >= 0xF0 && c < 0xF5 ? 4 : c >= 0xE0 ? 3 : c >= 0xC2 ? 2 : 1;
    bool sequence = c >= 0xC2 && c < 0xF5 && i + length <= text.size();
    for (std::size_t k = 1; sequence && k < length; ++k)
      sequence = (static_cast<unsigned char>(text[i + k]) & 0xC0) == 0x80;
    if (sequence) {
      shown.append(text, i, length);
      i += length - 1;
    } else if (c < 0x20 || c >= 0x7F) {
      shown += "<" + HexByteText(c) + ">";
    } else {
      shown += static_cast<char>(c);
    }
  }
  return shown;
}

void ReportError(TCliStreams& streams, const std::string& text) {
  std::fprintf(streams.Err, "%s%s\n", ProgramPrefix, ShownText(OneLine(text)).c_str());
  std::fflush(streams.Err);
}

int FinishOutput(TCliStreams& streams, int status, int failureStatus) {
  streams.Out->Flush();
  if (streams.Out->BrokenPipe()) {
    // Our threads (libjack's among them) may block or ignore SIGPIPE: it is
    // raised here on purpose, with its default effect.
    std::signal(SIGPIPE, SIG_DFL);
    sigset_t pipe;
    sigemptyset(&pipe);
    sigaddset(&pipe, SIGPIPE);
    pthread_sigmask(SIG_UNBLOCK, &pipe, nullptr);
    std::raise(SIGPIPE);
    return 128 + SIGPIPE;
  }
  if (!streams.Out->Failed())
    return status;
  ReportError(streams, FormatText(TextWriteFailed, StandardOutputName,
                                  std::strerror(streams.Out->Failure().Errno)));
  return status == ExitOk ? failureStatus : status;
}

std::string OneLine(const std::string& text) {
  std::string line;
  bool breakPending = false;
  for (const char c : text) {
    if (c == '\r' || c == '\n') {
      breakPending = true;
      continue;
    }
    if (breakPending && !line.empty() && line.back() != ' ')
      line += ' ';
    breakPending = false;
    line += c;
  }
  return line;
}

int RunCommand(const TCliOptions& options, TCliStreams& streams) {
  switch (options.Command) {
  case TCommand::List:
    return RunList(options, streams);
  case TCommand::Send:
    return RunSend(options, streams);
  case TCommand::Receive:
    return RunReceive(options, streams);
  case TCommand::Request:
    return RunRequest(options, streams);
  case TCommand::Convert:
    return RunConvert(options, streams);
  case TCommand::Check:
    return RunCheck(options, streams);
  case TCommand::None:
    break;
  }
  return ExitUsage;
}

} // namespace pelrow::cli
