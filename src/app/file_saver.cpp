#include "app/file_saver.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <exception>
#include <fcntl.h>
#include <new>
#include <stdexcept>
#include <sys/stat.h>
#include <unistd.h>

#include "app/file_loader.h"
#include "app/line_formatter.h"
#include "editor/vkstrings.h"
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
// that we may write to.
bool CanCreate(const std::string& fileName) {
  struct stat info {};
  if (::stat(fileName.c_str(), &info) == 0 && S_ISDIR(info.st_mode))
    return false;
  return ::faccessat(AT_FDCWD, FolderOf(fileName).c_str(), W_OK | X_OK, AT_EACCESS) == 0;
}

// Replaces the file with bytes, or leaves it untouched and answers false with the
// system's reason. A replaced file keeps its permissions; a new one gets those of
// any new file (the umask applies).
bool ReplaceFile(const std::string& fileName, const std::string& bytes, std::string& reason) {
  TWriteFailure failure;
  if (WriteFileAtomically(fileName, bytes, failure, 0666))
    return true;
  reason = std::strerror(failure.Errno);
  return false;
}

} // namespace

TSaveForm SaveFormOf(std::string_view fileName) {
  return FileKindOf(fileName) == TFileKind::Text ? TSaveForm::Text : TSaveForm::RawBytes;
}

std::string WithDefaultExtension(const std::string& fileName, std::string_view extension) {
  if (!FileExtension(fileName).empty())
    return fileName;
  std::string named = fileName + ".";
  named.append(extension);
  return named;
}

std::string SyxBytesOfLines(const TVKStrings& lines, THexParser& parser) {
  std::string bytes;
  for (int i = 0; i < lines.Count(); ++i) {
    int count = 0;
    if (parser.ParseLine(i, Trimmed(lines[i]), count))
      bytes.append(reinterpret_cast<const char*>(parser.MsgBuf()), static_cast<std::size_t>(count));
  }
  return bytes;
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
    const std::string sizeText = SaveFormOf(fileName) == TSaveForm::Text
                                     ? SaveText(fileName, lines)
                                     : SaveRawBytes(fileName, lines);
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
  if (saved && SaveFormOf(fileName) == TSaveForm::RawBytes)
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
  if (!ReplaceFile(fileName, lines.Text(), reason))
    throw std::runtime_error(
        FormatText(CannotCreateFileText, FileNameText(fileName), reason.c_str()));
  return FormatText(LineCountText, lines.Count());
}

std::string TFileSaver::SaveRawBytes(const std::string& fileName, const TVKStrings& lines) {
  if (!CanCreate(fileName))
    throw std::runtime_error(FormatText(CouldNotCreateText, FileNameText(fileName)));
  const std::string bytes = SyxBytesOfLines(lines, FParser);
  std::string reason;
  if (!ReplaceFile(fileName, bytes, reason))
    throw std::runtime_error(FormatText(WriteErrorText, FileNameText(fileName)));
  return FormatText(ByteCountText, static_cast<int>(std::min<std::size_t>(bytes.size(), INT_MAX)));
}

} // namespace pelrow
