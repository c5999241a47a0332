// Saving a box as one file per message, as librarians keep their patches: every
// System Exclusive message of the box goes into a ".syx" file of its own in a
// folder, named with its number and its maker when known ("0001-Roland.syx").
// Messages are found as the dump check finds them, so a file holds one whole
// message (or a cut one as it stands). Existing files are replaced only after the
// user agreed.
#pragma once

#include "app/status_report.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace pelrow {

class TDumpData;
class TVKStrings;
struct TCheckReport;

inline constexpr char SplitFolderDialogTitle[] = "Save each message into a folder";
inline constexpr char ConfirmSplitOverwriteText[] =
    "%s files already exist in %s, %s among them.\nDo you want to replace them?";
inline constexpr char NoSysExToSaveText[] = "There are no System Exclusive messages to save.";
inline constexpr char SplitSavedText[] =
    "%s System Exclusive messages saved as separate files in %s (%s bytes).";

struct TSplitFile {
  std::string Name; // in the folder: "0001-Roland.syx"
  int64_t Offset = 0;
  int64_t Length = 0;
};

// One file per System Exclusive message, numbered in order with at least four
// digits; the maker's name with anything but letters and digits made "-".
std::vector<TSplitFile> SplitFilesOf(const TCheckReport& report);

class TSplitSaver {
public:
  // Asks for a folder and saves the lines' messages there. Cancelling the dialog
  // or the overwrite question changes and reports nothing. True when saved.
  bool SaveBox(const TVKStrings& lines, TStatusSide side);
  // Saves into folder, which must exist; reports on the side.
  bool SaveFolder(const std::string& folder, const TVKStrings& lines, TStatusSide side);
  bool SaveFolder(const std::string& folder, const TDumpData& data, TStatusSide side);

  TShowStatus ShowStatus;
  // The folder dialog: the chosen folder, or nothing when the user cancels.
  std::function<std::optional<std::string>(TSplitSaver& sender)> OnChooseFolder;
  // Some files exist already: may they be replaced? Unassigned means no.
  std::function<bool(TSplitSaver& sender, const std::string& folder, int existing,
                     const std::string& firstExisting)>
      OnConfirmOverwrite;
  // Busy on while files are written; always followed by off.
  std::function<void(TSplitSaver& sender, bool busy)> OnBusy;

private:
  void Report(const std::string& text, TStatusSide side, TStatusKind kind);
  bool Save(const std::string& folder, const TDumpData& data, const std::vector<TSplitFile>& files,
            TStatusSide side);
};

} // namespace pelrow
