#include "app/file_saver.h"

#include <algorithm>
#include <atomic>
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

// A stop request ends a save at once; the output is then abandoned.
class ESaveStopped : public std::runtime_error {
public:
  ESaveStopped() : std::runtime_error("stopped") {}
};

void StopIfAsked(const std::atomic<bool>* stop) {
  if (stop != nullptr && stop->load(std::memory_order_relaxed))
    throw ESaveStopped();
}

// Calls take with the bytes of every line that holds any, in line order.
template <typename TTake>
void ForEachLineBytes(const TVKStrings& lines, THexParser& parser, TTake take,
                      const std::atomic<bool>* stop = nullptr) {
  for (int i = 0; i < lines.Count(); ++i) {
    if (i % 4096 == 0)
      StopIfAsked(stop);
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
  TOutputTarget target;
  target.Open(fileName, 0666); // a failure is reported by SaveTo
  return SaveTo(target, fileName, SaveFormOf(fileName), lines, side);
}

bool TFileSaver::SaveTo(TOutputTarget& target, const std::string& fileName, TSaveForm form,
                        const TVKStrings& lines, TStatusSide side) {
  if (OnBusy)
    OnBusy(*this, true);
  std::string message;
  bool saved = false;
  try {
    if (!target.IsOpen())
      throw std::runtime_error(FormatText(form == TSaveForm::Text ? CannotCreateFileText
                                                                  : CouldNotCreateText,
                                          FileNameText(fileName),
                                          std::strerror(target.Failure().Errno)));
    const std::string sizeText =
        form == TSaveForm::Text ? WriteText(target, lines) : WriteBytes(target, lines, form);
    if (!target.Commit())
      throw std::runtime_error(FormatText(WriteErrorText, FileNameText(fileName),
                                          std::strerror(target.Failure().Errno)));
    saved = true;
    if (OnSaved)
      OnSaved(*this, fileName);
    message = FormatText(SavedText, FileNameText(fileName), sizeText.c_str());
  } catch (const std::bad_alloc&) {
    message = OutOfMemoryText;
  } catch (const ESaveStopped&) {
    message = FormatText(SaveStoppedText, FileNameText(fileName));
  } catch (const std::exception& e) {
    message = e.what();
  }
  if (!saved)
    target.Abandon();
  if (FShowStatus)
    FShowStatus(message, side, saved ? TStatusKind::Plain : TStatusKind::ErrorBox, false);
  if (saved && form != TSaveForm::Text)
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

std::string TFileSaver::WriteText(TOutputTarget& target, const TVKStrings& lines) {
  for (int i = 0; i < lines.Count(); ++i) {
    if (i % 4096 == 0)
      StopIfAsked(Stop);
    target.Write(lines[i]);
    target.Write(TextLineEnd);
  }
  return FormatText(LineCountText, lines.Count());
}

std::string TFileSaver::WriteBytes(TOutputTarget& target, const TVKStrings& lines,
                                   TSaveForm form) {
  std::size_t midiBytes = 0;
  if (form == TSaveForm::MidiFile) {
    target.Write(MidiFileOfLines(lines, FParser, midiBytes));
  } else {
    ForEachLineBytes(
        lines, FParser,
        [&](std::span<const uint8_t> line) {
          target.Write({reinterpret_cast<const char*>(line.data()), line.size()});
          midiBytes += line.size();
        },
        Stop);
  }
  return FormatText(ByteCountText, static_cast<int>(std::min<std::size_t>(midiBytes, INT_MAX)));
}

} // namespace pelrow
