#include "app/file_saver.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <exception>
#include <fcntl.h>
#include <new>
#include <span>
#include <stdexcept>
#include <sys/stat.h>
#include <unistd.h>

#include "app/file_loader.h"
#include "app/line_formatter.h"
#include "editor/vkstrings.h"
#include "files/smf_writer.h"
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

// Whether a file of that name can be created at all: not a folder, in a folder
// that we may write to. Answers the system's reason when not.
bool CanCreate(const std::string& fileName, std::string& reason) {
  struct stat info {};
  if (::stat(fileName.c_str(), &info) == 0 && S_ISDIR(info.st_mode)) {
    reason = std::strerror(EISDIR);
    return false;
  }
  if (::faccessat(AT_FDCWD, FolderOf(fileName).c_str(), W_OK | X_OK, AT_EACCESS) == 0)
    return true;
  reason = std::strerror(errno);
  return false;
}

// Replaces the file with bytes, or leaves it untouched and answers false with the
// system's reason and whether the writing itself failed (rather than making or
// replacing the file). A replaced file keeps its permissions; a new one gets those
// of any new file (the umask applies).
bool ReplaceFile(const std::string& fileName, const std::string& bytes, std::string& reason,
                 bool& whileWriting) {
  TWriteFailure failure;
  if (WriteFileAtomically(fileName, bytes, failure, 0666))
    return true;
  reason = std::strerror(failure.Errno);
  whileWriting = failure.Step == TWriteStep::Write || failure.Step == TWriteStep::Sync ||
                 failure.Step == TWriteStep::Close;
  return false;
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
void ForEachLineBytes(const TVKStrings& lines, THexParser& parser, TTake take) {
  for (int i = 0; i < lines.Count(); ++i) {
    int count = 0;
    if (parser.ParseLine(i, Trimmed(lines[i]), count))
      take(std::span<const uint8_t>(parser.MsgBuf(), static_cast<std::size_t>(count)));
  }
}

} // namespace

std::string SyxBytesOfLines(const TVKStrings& lines, THexParser& parser) {
  std::string bytes;
  ForEachLineBytes(lines, parser, [&](std::span<const uint8_t> line) {
    bytes.append(reinterpret_cast<const char*>(line.data()), line.size());
  });
  return bytes;
}

std::string MidiFileOfLines(const TVKStrings& lines, THexParser& parser, std::size_t& byteCount) {
  TSmfWriter writer;
  ForEachLineBytes(lines, parser, [&](std::span<const uint8_t> line) { writer.AddLine(line); });
  byteCount = writer.MidiBytes();
  return writer.FileBytes();
}

void TFileSaver::SetShowStatus(TShowStatus showStatus) {
  FShowStatus = showStatus;
  FParser.SetShowStatus(std::move(showStatus));
}

bool TFileSaver::SaveBox(const TVKStrings& lines, TStatusSide side) {
  if (!OnChooseFileName)
    return false;
  const std::optional<std::string> chosen = OnChooseFileName(*this);
  if (!chosen || chosen->empty())
    return false;
  const std::string fileName = WithDefaultExtension(*chosen, SaveDialogDefaultExt);
  if (Exists(fileName) && OnConfirmOverwrite && !OnConfirmOverwrite(*this, fileName))
    return false;
  return SaveFile(fileName, lines, side);
}

bool TFileSaver::SaveFile(const std::string& fileName, const TVKStrings& lines, TStatusSide side) {
  if (OnBusy)
    OnBusy(*this, true);
  std::string message;
  bool saved = false;
  try {
    const TSaveForm form = SaveFormOf(fileName);
    const std::string sizeText =
        form == TSaveForm::Text ? SaveText(fileName, lines) : SaveBytes(fileName, lines, form);
    saved = true;
    if (OnSaved)
      OnSaved(*this, fileName);
    message = FormatText(SavedText, FileNameText(fileName), sizeText.c_str());
  } catch (const std::bad_alloc&) {
    message = OutOfMemoryText;
  } catch (const std::exception& e) {
    message = e.what();
  }
  if (FShowStatus)
    FShowStatus(message, side, saved ? TStatusKind::Plain : TStatusKind::ErrorBox, false);
  if (saved && SaveFormOf(fileName) != TSaveForm::Text)
    WarnOfGaps(fileName, lines, side);
  if (OnBusy)
    OnBusy(*this, false);
  return saved;
}

// The marks are comments, so the bytes show nothing of them: the gap is told here.
void TFileSaver::WarnOfGaps(const std::string& fileName, const TVKStrings& lines,
                            TStatusSide side) {
  TMarkLine worst = TMarkLine::None;
  for (int i = 0; i < lines.Count() && worst != TMarkLine::Certain; ++i)
    worst = std::max(worst, MarkLineKind(Trimmed(lines[i])));
  if (worst == TMarkLine::None || !FShowStatus)
    return;
  if (worst == TMarkLine::Certain)
    FShowStatus(FormatText(SavedWithGapsText, FileNameText(fileName)), side, TStatusKind::ErrorBox,
                false);
  else
    FShowStatus(FormatText(SavedMaybeGapsText, FileNameText(fileName)), side, TStatusKind::Plain,
                false);
}

std::string TFileSaver::SaveText(const std::string& fileName, const TVKStrings& lines) {
  std::string reason;
  bool whileWriting = false;
  if (!ReplaceFile(fileName, lines.Text(), reason, whileWriting))
    throw std::runtime_error(
        FormatText(CannotCreateFileText, FileNameText(fileName), reason.c_str()));
  return FormatText(LineCountText, lines.Count());
}

std::string TFileSaver::SaveBytes(const std::string& fileName, const TVKStrings& lines,
                                  TSaveForm form) {
  std::string reason;
  if (!CanCreate(fileName, reason))
    throw std::runtime_error(
        FormatText(CouldNotCreateText, FileNameText(fileName), reason.c_str()));
  std::size_t midiBytes = 0;
  const std::string bytes = form == TSaveForm::MidiFile ? MidiFileOfLines(lines, FParser, midiBytes)
                                                        : SyxBytesOfLines(lines, FParser);
  if (form != TSaveForm::MidiFile)
    midiBytes = bytes.size();
  bool whileWriting = false;
  if (!ReplaceFile(fileName, bytes, reason, whileWriting))
    throw std::runtime_error(FormatText(whileWriting ? WriteErrorText : CouldNotCreateText,
                                        FileNameText(fileName), reason.c_str()));
  return FormatText(ByteCountText, static_cast<int>(std::min<std::size_t>(midiBytes, INT_MAX)));
}

} // namespace pelrow
