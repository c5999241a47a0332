// The commands that need no more than a few lines: list and convert, and the
// choice of command.
#include "cli/cli_commands.h"

#include "app/file_loader.h"
#include "app/file_saver.h"
#include "app/line_formatter.h"
#include "app/split_saver.h"
#include "support/text_format.h"
#include "cli/capture_command.h"
#include "cli/check_command.h"
#include "cli/midi_session.h"
#include "cli/send_command.h"
#include "cli/send_input.h"
#include "editor/vkstrings.h"
#include "support/safe_file.h"

#include <cerrno>
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
  const std::string text = options.Json ? PortListJson(session.Ports) : PortListText(session.Ports);
  std::fputs(text.c_str(), streams.Out);
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

int RunConvert(const TCliOptions& options, TCliStreams& streams) {
  if (!options.SplitFolder.empty())
    return RunSplit(options, streams);
  std::string error;
  if (!CheckOutputFile(options.ConvertOut, error)) {
    ReportError(streams, error);
    return ExitBadInput;
  }
  TVKStrings lines;
  if (!LoadFileLines(options.ConvertIn, SplitThreshold(options.Split > 0, options.Split), lines,
                     error)) {
    ReportError(streams, error);
    return ExitBadInput;
  }
  if (SaveFormOf(options.ConvertOut) == TSaveForm::RawBytes &&
      !CheckTextInput(options, lines, error)) {
    ReportError(streams, error);
    return ExitBadInput;
  }
  TFileSaver saver;
  saver.SetShowStatus([&](const std::string& text, TStatusSide, TStatusKind kind, bool) {
    if (kind == TStatusKind::Error || kind == TStatusKind::ErrorBox)
      error = text;
  });
  if (!saver.SaveFile(options.ConvertOut, lines, TStatusSide::Out)) {
    ReportError(streams, error);
    return ExitBadInput;
  }
  return ExitOk;
}

} // namespace

void ReportError(TCliStreams& streams, const std::string& text) {
  std::fprintf(streams.Err, "%s%s\n", ProgramPrefix, OneLine(text).c_str());
  std::fflush(streams.Err);
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

bool CheckOutputFile(const std::string& fileName, std::string& error) {
  struct stat info {};
  int reason = 0;
  if (::stat(fileName.c_str(), &info) == 0 && S_ISDIR(info.st_mode))
    reason = EISDIR;
  else if (::faccessat(AT_FDCWD, FolderOf(fileName).c_str(), W_OK | X_OK, AT_EACCESS) != 0)
    reason = errno;
  if (reason == 0)
    return true;
  error = FormatText(CannotCreateFileText, fileName.c_str(), std::strerror(reason));
  return false;
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
