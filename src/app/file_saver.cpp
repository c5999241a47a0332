#include "app/file_saver.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstring>
#include <exception>
#include <fcntl.h>
#include <new>
#include <span>
#include <stdexcept>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>

#include "app/file_loader.h"
#include "app/line_formatter.h"
#include "editor/vkstrings.h"
#include "files/smf_writer.h"
#include "support/clock.h"
#include "support/file_name_text.h"
#include "support/safe_file.h"
#include "support/text_format.h"

namespace pelrow {

namespace {

bool IsBlankOrControl(char c) {
  return static_cast<unsigned char>(c) <= 32;
}

std::string_view Trimmed(std::string_view text) {
  while (!text.empty() && IsBlankOrControl(text.front()))
    text.remove_prefix(1);
  while (!text.empty() && IsBlankOrControl(text.back()))
    text.remove_suffix(1);
  return text;
}

bool Exists(const std::string& path) {
  struct stat info {};
  return ::stat(path.c_str(), &info) == 0;
}

} // namespace

TSaveForm SaveFormOf(std::string_view fileName) {
  switch (FileKindOf(fileName)) {
  case TFileKind::Text:
    return TSaveForm::Text;
  case TFileKind::MidiFile:
    return TSaveForm::MidiFile;
  default:
    return TSaveForm::RawBytes;
  }
}

std::string WithDefaultExtension(const std::string& fileName, std::string_view extension) {
  if (!FileExtension(fileName).empty())
    return fileName;
  std::string named = fileName + ".";
  named.append(extension);
  return named;
}

namespace {

// Calls take with the bytes of every line that holds any, in line order.
template <typename TTake>
void ForEachLineBytes(const TVKStrings& lines, THexParser& parser, TTake take, TSaveRun& run) {
  for (int i = 0; i < lines.Count(); ++i) {
    run.At(i, lines.Count());
    int count = 0;
    if (parser.ParseLine(i, Trimmed(lines[i]), count))
      take(std::span<const uint8_t>(parser.MsgBuf(), static_cast<std::size_t>(count)));
  }
}

std::string MidiFileOf(const TVKStrings& lines, THexParser& parser, std::size_t& byteCount,
                       TSaveRun& run) {
  TSmfWriter writer;
  ForEachLineBytes(
      lines, parser, [&](std::span<const uint8_t> line) { writer.AddLine(line); }, run);
  byteCount = writer.MidiBytes();
  return writer.FileBytes();
}

// Each answers the size text of the success message.
std::string WriteText(TOutputTarget& target, const TVKStrings& lines, TSaveRun& run) {
  for (int i = 0; i < lines.Count(); ++i) {
    run.At(i, lines.Count());
    target.Write(lines[i]);
    target.Write(TextLineEnd);
  }
  return FormatText(LineCountText, lines.Count());
}

std::string WriteBytes(TOutputTarget& target, const TVKStrings& lines, TSaveForm form,
                       THexParser& parser, TSaveRun& run) {
  std::size_t midiBytes = 0;
  if (form == TSaveForm::MidiFile) {
    target.Write(MidiFileOf(lines, parser, midiBytes, run));
  } else {
    ForEachLineBytes(
        lines, parser,
        [&](std::span<const uint8_t> line) {
          target.Write({reinterpret_cast<const char*>(line.data()), line.size()});
          midiBytes += line.size();
        },
        run);
  }
  return FormatText(ByteCountText, static_cast<int>(std::min<std::size_t>(midiBytes, INT_MAX)));
}

// The worst mark of lost input among the lines. The marks are comments, so the
// bytes of a ".syx" or ".mid" file show nothing of them.
TMarkLine WorstMarkOf(const TVKStrings& lines) {
  TMarkLine worst = TMarkLine::None;
  for (int i = 0; i < lines.Count() && worst != TMarkLine::Certain; ++i)
    worst = std::max(worst, MarkLineKind(Trimmed(lines[i])));
  return worst;
}

} // namespace

// What writing a file came to; the UI thread reports it.
struct TSaveOutcome {
  bool Saved = false;
  std::string Message; // the size text when saved, else the failure
  TMarkLine Worst = TMarkLine::None;
};

namespace {

// Writes the lines and puts the file in place, or abandons it on any failure.
TSaveOutcome WriteSave(TOutputTarget& target, const std::string& fileName, TSaveForm form,
                       const TVKStrings& lines, THexParser& parser, TSaveRun& run) {
  TSaveOutcome outcome;
  try {
    if (!target.IsOpen())
      throw std::runtime_error(
          FormatText(form == TSaveForm::Text ? CannotCreateFileText : CouldNotCreateText,
                     FileNameText(fileName), std::strerror(target.Failure().Errno)));
    const std::string sizeText = form == TSaveForm::Text
                                     ? WriteText(target, lines, run)
                                     : WriteBytes(target, lines, form, parser, run);
    run.CheckStop();
    if (!target.Commit())
      throw std::runtime_error(FormatText(WriteErrorText, FileNameText(fileName),
                                          std::strerror(target.Failure().Errno)));
    outcome.Saved = true;
    outcome.Message = sizeText;
    if (form != TSaveForm::Text)
      outcome.Worst = WorstMarkOf(lines);
  } catch (const std::bad_alloc&) {
    outcome.Message = OutOfMemoryText;
  } catch (const ESaveStopped&) {
    outcome.Message = FormatText(SaveStoppedText, FileNameText(fileName));
  } catch (const std::exception& e) {
    outcome.Message = e.what();
  }
  if (!outcome.Saved)
    target.Abandon();
  return outcome;
}

} // namespace

std::string SyxBytesOfLines(const TVKStrings& lines, THexParser& parser) {
  std::string bytes;
  TSaveRun run;
  ForEachLineBytes(
      lines, parser,
      [&](std::span<const uint8_t> line) {
        bytes.append(reinterpret_cast<const char*>(line.data()), line.size());
      },
      run);
  return bytes;
}

std::string MidiFileOfLines(const TVKStrings& lines, THexParser& parser, std::size_t& byteCount) {
  TSaveRun run;
  return MidiFileOf(lines, parser, byteCount, run);
}

void TFileSaver::SetShowStatus(TShowStatus showStatus) {
  FShowStatus = showStatus;
  FParser.SetShowStatus(std::move(showStatus));
}

void TFileSaver::SetBusy(bool busy) {
  if (OnBusy)
    OnBusy(*this, busy);
}

std::optional<std::string> TFileSaver::ChooseFileName() {
  if (!OnChooseFileName)
    return std::nullopt;
  const std::optional<std::string> chosen = OnChooseFileName(*this);
  if (!chosen || chosen->empty())
    return std::nullopt;
  const std::string fileName = WithDefaultExtension(*chosen, SaveDialogDefaultExt);
  if (Exists(fileName) && OnConfirmOverwrite && !OnConfirmOverwrite(*this, fileName))
    return std::nullopt;
  return fileName;
}

bool TFileSaver::SaveBox(const TVKStrings& lines, TStatusSide side) {
  const std::optional<std::string> fileName = ChooseFileName();
  return fileName && SaveFile(*fileName, lines, side);
}

void TFileSaver::StartSaveBox(const TVKStrings& lines, TStatusSide side, TUiPoster& poster) {
  if (const std::optional<std::string> fileName = ChooseFileName())
    StartSave(*fileName, lines, side, poster);
}

bool TFileSaver::SaveFile(const std::string& fileName, const TVKStrings& lines, TStatusSide side) {
  TOutputTarget target;
  target.Open(fileName, 0666); // a failure is reported by SaveTo
  return SaveTo(target, fileName, SaveFormOf(fileName), lines, side);
}

bool TFileSaver::SaveTo(TOutputTarget& target, const std::string& fileName, TSaveForm form,
                        const TVKStrings& lines, TStatusSide side) {
  FSavingSide = side;
  SetBusy(true);
  TSaveRun run(Stop);
  return EndSave(fileName, side, WriteSave(target, fileName, form, lines, FParser, run));
}

bool TFileSaver::EndSave(const std::string& fileName, TStatusSide side,
                         const TSaveOutcome& outcome) {
  if (outcome.Saved && OnSaved)
    OnSaved(*this, fileName);
  if (FShowStatus) {
    if (outcome.Saved)
      FShowStatus(FormatText(SavedText, FileNameText(fileName), outcome.Message.c_str()), side,
                  TStatusKind::Plain, false);
    else
      FShowStatus(outcome.Message, side, TStatusKind::ErrorBox, false);
    if (outcome.Worst == TMarkLine::Certain)
      FShowStatus(FormatText(SavedWithGapsText, FileNameText(fileName)), side,
                  TStatusKind::ErrorBox, false);
    else if (outcome.Worst == TMarkLine::Possible)
      FShowStatus(FormatText(SavedMaybeGapsText, FileNameText(fileName)), side, TStatusKind::Plain,
                  false);
  }
  SetBusy(false);
  return outcome.Saved;
}

// ---- saving on a worker thread -------------------------------------------------------

// What the worker writes, and what it came to.
struct TFileSaver::TSaveJob {
  TOutputTarget Target;
  TSaveOutcome Outcome;
};

TFileSaver::~TFileSaver() = default;

void TFileSaver::StartSave(const std::string& fileName, const TVKStrings& lines, TStatusSide side,
                           TUiPoster& poster) {
  CancelSave();
  auto job = std::make_shared<TSaveJob>();
  job->Target.Open(fileName, 0666);
  const TSaveForm form = SaveFormOf(fileName);
  // Small boxes take no time, and a file that cannot be created is reported at once.
  // A device or FIFO is written at once as well: a reader that stalls would leave a
  // worker that cannot be stopped.
  if (!job->Target.IsOpen() || job->Target.InPlace() ||
      lines.TextBytes() + static_cast<std::size_t>(lines.Count()) <= LargeSaveTextSize) {
    SaveTo(job->Target, fileName, form, lines, side);
    return;
  }
  FSavingSide = side;
  SetBusy(true);
  const bool started = FWorker.Start(
      poster, FShowStatus, side, true, TSaveRun::LineStep,
      [job, fileName, form, &lines](TSaveRun& run, const TShowStatus& report) {
        THexParser parser(report);
        job->Outcome = WriteSave(job->Target, fileName, form, lines, parser, run);
      },
      [this, job, fileName, side] { EndSave(fileName, side, job->Outcome); });
  if (!started) {
    // No worker: the box is saved at once instead.
    SetBusy(false);
    SaveTo(job->Target, fileName, form, lines, side);
  }
}

void TFileSaver::CancelSave() {
  if (!FWorker.Running())
    return;
  FWorker.Cancel();
  SetBusy(false);
}

} // namespace pelrow
