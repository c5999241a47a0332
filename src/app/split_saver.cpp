#include "app/split_saver.h"

#include "app/dump_check.h"
#include "app/file_loader.h"
#include "app/file_saver.h"
#include "editor/vkstrings.h"
#include "support/file_name_text.h"
#include "support/safe_file.h"
#include "support/text_format.h"

#include <cctype>
#include <cstring>
#include <new>
#include <string_view>
#include <sys/stat.h>

namespace pelrow {

namespace {

constexpr int MinNumberDigits = 4;
constexpr char SyxExtension[] = ".syx";
constexpr char TextErrorLineText[] = "line %d: %s";

std::string FileNamePart(const std::string& name) {
  std::string part;
  for (const char c : name) {
    const bool keep = std::isalnum(static_cast<unsigned char>(c)) != 0;
    if (keep || (!part.empty() && part.back() != '-'))
      part += keep ? c : '-';
  }
  while (!part.empty() && part.back() == '-')
    part.pop_back();
  return part;
}

std::string Numbered(int number, int digits) {
  std::string text = std::to_string(number);
  return std::string(text.size() < static_cast<size_t>(digits) ? digits - text.size() : 0, '0') +
         text;
}

std::string InFolder(const std::string& folder, const std::string& name) {
  return folder.empty() || folder.back() == '/' ? folder + name : folder + "/" + name;
}

bool Exists(const std::string& path) {
  struct stat info {};
  return ::lstat(path.c_str(), &info) == 0;
}

} // namespace

std::vector<TSplitFile> SplitFilesOf(const TCheckReport& report) {
  std::vector<TSplitFile> files;
  for (const TCheckedMessage& m : report.Messages)
    if (m.Kind == TMessageKind::SystemExclusive)
      files.push_back({FileNamePart(m.ManufacturerName), m.Offset, m.Length});
  const int digits =
      std::max<int>(MinNumberDigits, static_cast<int>(std::to_string(files.size()).size()));
  for (size_t i = 0; i < files.size(); ++i) {
    const std::string maker = files[i].Name;
    files[i].Name = Numbered(static_cast<int>(i + 1), digits) + (maker.empty() ? "" : "-" + maker) +
                    SyxExtension;
  }
  return files;
}

// What reading the box found; made on a worker thread for a large box.
struct TSplitSaver::TBox {
  TDumpData Data;
  std::vector<TSplitFile> Files;
  bool Large = false;
  std::string Failure;
};

// What writing the files came to.
struct TSplitSaver::TWritten {
  bool Saved = false;
  int64_t Files = 0;
  int64_t Bytes = 0;
  std::string Failure;
  // Files that exist already, when nothing was written because of them.
  int Existing = 0;
  std::string FirstExisting;
};

namespace {

// Every so many files the writer looks whether it is to stop.
constexpr int FileStep = 32;
// Files are put in place in batches of this many: a crash leaves at most so many
// temporary files, and the disk is waited for once per batch.
constexpr std::size_t BatchFiles = 2048;

bool IsLarge(const TVKStrings& lines) {
  return lines.TextBytes() + static_cast<std::size_t>(lines.Count()) > LargeSaveTextSize;
}

} // namespace

void TSplitSaver::ReadBox(const TVKStrings& lines, TBox& box, TSaveRun& run) {
  try {
    for (int i = 0; i < lines.Count(); ++i) {
      run.At(i, lines.Count());
      box.Data.AddLine(i + 1, lines[i]);
    }
    box.Files = SplitFilesOf(CheckDump(box.Data));
  } catch (const std::bad_alloc&) {
    box.Failure = OutOfMemoryText;
  } catch (const ESaveStopped&) {
    throw;
  } catch (const std::exception& e) {
    // Nothing may escape a worker thread: it would end the program.
    box.Failure = e.what();
  }
}

TSplitSaver::TWritten TSplitSaver::WriteFiles(const std::string& folder, const TBox& box,
                                              bool replace, TSaveRun& run) {
  TWritten written;
  const int count = static_cast<int>(box.Files.size());
  // Looking costs as much as writing for a hundred thousand files: it is part of the
  // worker's work.
  for (int i = 0; i < count && !replace; ++i) {
    if (i % FileStep == 0)
      run.CheckStop();
    const std::string& name = box.Files[static_cast<size_t>(i)].Name;
    if (Exists(InFolder(folder, name)) && written.Existing++ == 0)
      written.FirstExisting = name;
  }
  if (written.Existing > 0)
    return written;
  TFileBatch batch;
  try {
    for (int i = 0; i < count; ++i) {
      run.At(i, count);
      const TSplitFile& file = box.Files[static_cast<size_t>(i)];
      const std::string_view bytes =
          std::string_view(box.Data.Bytes())
              .substr(static_cast<size_t>(file.Offset), static_cast<size_t>(file.Length));
      if (!batch.Write(InFolder(folder, file.Name), bytes, 0666))
        break; // what was written before goes in place
      ++written.Files;
      written.Bytes += file.Length;
      if (batch.Pending() >= BatchFiles && !batch.Commit())
        break;
    }
    run.CheckStop();
    written.Saved = batch.Commit() && batch.FailedPath().empty();
  } catch (const std::bad_alloc&) {
    written.Failure = OutOfMemoryText;
    return written;
  } catch (const ESaveStopped&) {
    throw;
  } catch (const std::exception& e) {
    written.Failure = e.what();
    return written;
  }
  if (!written.Saved)
    written.Failure = FormatText(CannotCreateFileText, FileNameText(batch.FailedPath()),
                                 std::strerror(batch.Failure().Errno));
  return written;
}

bool TSplitSaver::SaveFolder(const std::string& folder, const TVKStrings& lines, TStatusSide side) {
  FSavingSide = side;
  auto box = std::make_shared<TBox>();
  TSaveRun run;
  ReadBox(lines, *box, run);
  return Continue(folder, box, side, nullptr);
}

void TSplitSaver::StartSaveBox(const TVKStrings& lines, TStatusSide side, TUiPoster& poster) {
  Start(std::nullopt, lines, side, poster);
}

void TSplitSaver::StartSaveFolder(const std::string& folder, const TVKStrings& lines,
                                  TStatusSide side, TUiPoster& poster) {
  Start(folder, lines, side, poster);
}

void TSplitSaver::Start(std::optional<std::string> folder, const TVKStrings& lines,
                        TStatusSide side, TUiPoster& poster) {
  CancelSave();
  FSavingSide = side;
  auto box = std::make_shared<TBox>();
  box->Large = IsLarge(lines);
  if (box->Large) {
    SetBusy(true);
    if (FWorker.Start(
            poster, ShowStatus, side, false, TSaveRun::LineStep,
            [box, &lines](TSaveRun& run, const TShowStatus&) { ReadBox(lines, *box, run); },
            [this, box, folder, side, &poster] {
              SetBusy(false);
              Continue(folder, box, side, &poster);
            }))
      return;
    SetBusy(false); // no worker: the box is read at once instead
  }
  TSaveRun run;
  ReadBox(lines, *box, run);
  Continue(folder, box, side, &poster);
}

bool TSplitSaver::Continue(std::optional<std::string> folder, const std::shared_ptr<TBox>& box,
                           TStatusSide side, TUiPoster* poster) {
  if (!box->Failure.empty()) {
    Report(box->Failure, side, TStatusKind::ErrorBox);
    return false;
  }
  if (box->Files.empty()) {
    Report(NoSysExToSaveText, side, TStatusKind::Error);
    return false;
  }
  if (!folder && OnChooseFolder)
    folder = OnChooseFolder(*this);
  if (!folder || folder->empty())
    return false;
  // As saving a box: text that is no hex bytes is skipped, and said so.
  for (const TCheckProblem& error : box->Data.TextErrors())
    Report(FormatText(TextErrorLineText, error.Line, error.Text), TStatusSide::Out,
           TStatusKind::Error);
  return Write(*folder, box, side, poster, false);
}

bool TSplitSaver::Write(const std::string& folder, const std::shared_ptr<TBox>& box,
                        TStatusSide side, TUiPoster* poster, bool replace) {
  SetBusy(true);
  if (poster != nullptr && (box->Large || box->Files.size() > LargeSplitFileCount)) {
    auto written = std::make_shared<TWritten>();
    if (FWorker.Start(
            *poster, ShowStatus, side, true, FileStep,
            [box, written, folder, replace](TSaveRun& run, const TShowStatus&) {
              *written = WriteFiles(folder, *box, replace, run);
            },
            [this, box, written, folder, side, poster] {
              Written(folder, box, side, poster, *written);
            }))
      return false;
  }
  TSaveRun run;
  return Written(folder, box, side, poster, WriteFiles(folder, *box, replace, run));
}

bool TSplitSaver::Written(const std::string& folder, const std::shared_ptr<TBox>& box,
                          TStatusSide side, TUiPoster* poster, const TWritten& written) {
  if (written.Existing == 0)
    return EndSave(folder, side, written);
  SetBusy(false);
  return OnConfirmOverwrite &&
         OnConfirmOverwrite(*this, folder, written.Existing, written.FirstExisting) &&
         Write(folder, box, side, poster, true);
}

bool TSplitSaver::EndSave(const std::string& folder, TStatusSide side, const TWritten& written) {
  if (written.Saved)
    Report(FormatText(SplitSavedText, GroupedNumber(written.Files), FileNameText(folder),
                      GroupedNumber(written.Bytes)),
           side, TStatusKind::Plain);
  else
    Report(written.Failure, side, TStatusKind::ErrorBox);
  SetBusy(false);
  return written.Saved;
}

void TSplitSaver::CancelSave() {
  if (!FWorker.Running())
    return;
  FWorker.Cancel();
  SetBusy(false);
}

void TSplitSaver::Report(const std::string& text, TStatusSide side, TStatusKind kind) {
  if (ShowStatus)
    ShowStatus(text, side, kind, false);
}

void TSplitSaver::SetBusy(bool busy) {
  if (OnBusy)
    OnBusy(*this, busy);
}

} // namespace pelrow
