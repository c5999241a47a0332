#include "app/split_saver.h"

#include "app/dump_check.h"
#include "app/file_saver.h"
#include "editor/vkstrings.h"
#include "support/file_name_text.h"
#include "support/safe_file.h"
#include "support/text_format.h"

#include <cctype>
#include <cstring>
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

bool TSplitSaver::SaveBox(const TVKStrings& lines, TStatusSide side) {
  const TDumpData data = DumpDataOfLines(lines);
  const std::vector<TSplitFile> files = SplitFilesOf(CheckDump(data));
  if (files.empty()) {
    Report(NoSysExToSaveText, side, TStatusKind::Error);
    return false;
  }
  if (!OnChooseFolder)
    return false;
  const std::optional<std::string> folder = OnChooseFolder(*this);
  if (!folder || folder->empty())
    return false;
  return Save(*folder, data, files, side);
}

bool TSplitSaver::SaveFolder(const std::string& folder, const TVKStrings& lines, TStatusSide side) {
  return SaveFolder(folder, DumpDataOfLines(lines), side);
}

bool TSplitSaver::SaveFolder(const std::string& folder, const TDumpData& data, TStatusSide side) {
  const std::vector<TSplitFile> files = SplitFilesOf(CheckDump(data));
  if (files.empty()) {
    Report(NoSysExToSaveText, side, TStatusKind::Error);
    return false;
  }
  return Save(folder, data, files, side);
}

void TSplitSaver::Report(const std::string& text, TStatusSide side, TStatusKind kind) {
  if (ShowStatus)
    ShowStatus(text, side, kind, false);
}

bool TSplitSaver::Save(const std::string& folder, const TDumpData& data,
                       const std::vector<TSplitFile>& files, TStatusSide side) {
  // As saving a box: text that is no hex bytes is skipped, and said so.
  for (const TCheckProblem& error : data.TextErrors())
    Report(FormatText(TextErrorLineText, error.Line, error.Text), TStatusSide::Out,
           TStatusKind::Error);
  int existing = 0;
  std::string firstExisting;
  for (const TSplitFile& file : files)
    if (Exists(InFolder(folder, file.Name)) && existing++ == 0)
      firstExisting = file.Name;
  if (existing > 0 &&
      !(OnConfirmOverwrite && OnConfirmOverwrite(*this, folder, existing, firstExisting)))
    return false;

  if (OnBusy)
    OnBusy(*this, true);
  int64_t bytes = 0;
  bool saved = true;
  for (const TSplitFile& file : files) {
    const std::string path = InFolder(folder, file.Name);
    TWriteFailure failure;
    if (!WriteFileAtomically(
            path,
            data.Bytes().substr(static_cast<size_t>(file.Offset), static_cast<size_t>(file.Length)),
            failure, 0666)) {
      Report(FormatText(CannotCreateFileText, FileNameText(path), std::strerror(failure.Errno)),
             side, TStatusKind::ErrorBox);
      saved = false;
      break;
    }
    bytes += file.Length;
  }
  if (saved)
    Report(FormatText(SplitSavedText, GroupedNumber(static_cast<int64_t>(files.size())),
                      FileNameText(folder), GroupedNumber(bytes)),
           side, TStatusKind::Plain);
  if (OnBusy)
    OnBusy(*this, false);
  return saved;
}

} // namespace pelrow
