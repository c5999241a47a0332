// Saving a box as one file per message, as librarians keep their patches: every
// System Exclusive message of the box goes into a ".syx" file of its own in a
// folder, named with its number and its maker when known ("0001-Roland.syx").
// Messages are found as the dump check finds them, so a file holds one whole
// message (or a cut one as it stands). Existing files are replaced only after the
// user agreed. Files are written in batches with one wait for the disk each; after a
// crash every file holds its old content or its new one, and the summary comes only
// once they are all on disk.
#pragma once

#include "app/save_worker.h"
#include "app/status_report.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace pelrow {

class TUiPoster;
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

// A box of more text than LargeSaveTextSize is read on a worker thread, and its
// files are written on one when it is large or they are many.
constexpr std::size_t LargeSplitFileCount = 200;

class TSplitSaver {
public:
  TSplitSaver() = default;
  // A save under way is stopped; the files already in place stay.
  ~TSplitSaver() = default;

  // Saves into folder, which must exist; reports on the side. True when saved.
  bool SaveFolder(const std::string& folder, const TVKStrings& lines, TStatusSide side);

  // Asks for a folder and saves the lines' messages there, with the same steps and
  // messages in the same order as SaveFolder; cancelling the dialog or the overwrite
  // question changes and reports nothing. A large box is read, and many files are
  // written, on a worker thread while the UI thread goes on; the reports reach
  // ShowStatus through poster, and busy is on while the worker runs. The lines must
  // not change while busy. A save under way is stopped first.
  void StartSaveBox(const TVKStrings& lines, TStatusSide side, TUiPoster& poster);
  // The same without the dialog.
  void StartSaveFolder(const std::string& folder, const TVKStrings& lines, TStatusSide side,
                       TUiPoster& poster);
  bool Saving() const { return FWorker.Running(); }
  // The side of the box being saved, or last saved.
  TStatusSide SavingSide() const { return FSavingSide; }
  // Ends a save under way: the worker is joined, the files already in place stay, no
  // temporary file is left, nothing more is reported, and busy goes off.
  void CancelSave();

  TShowStatus ShowStatus;
  // The folder dialog: the chosen folder, or nothing when the user cancels.
  std::function<std::optional<std::string>(TSplitSaver& sender)> OnChooseFolder;
  // Some files exist already: may they be replaced? Unassigned means no.
  std::function<bool(TSplitSaver& sender, const std::string& folder, int existing,
                     const std::string& firstExisting)>
      OnConfirmOverwrite;
  // Busy on while the box is read or files are written; always followed by off.
  std::function<void(TSplitSaver& sender, bool busy)> OnBusy;

private:
  struct TBox;
  struct TWritten;
  void Start(std::optional<std::string> folder, const TVKStrings& lines, TStatusSide side,
             TUiPoster& poster);
  // Both run on the worker for a large box; a stop ends them by ESaveStopped.
  static void ReadBox(const TVKStrings& lines, TBox& box, TSaveRun& run);
  // Writes nothing when files exist and replace is false: it answers them instead.
  static TWritten WriteFiles(const std::string& folder, const TBox& box, bool replace,
                             TSaveRun& run);
  // The box's messages were found: on to the folder, the question and the files.
  // True when the files were saved before it returned.
  bool Continue(std::optional<std::string> folder, const std::shared_ptr<TBox>& box,
                TStatusSide side, TUiPoster* poster);
  // Looks for existing files and writes, with the work on a worker when it is large;
  // Written then asks before anything is replaced, or reports. Both answer whether
  // the files were saved before they returned.
  bool Write(const std::string& folder, const std::shared_ptr<TBox>& box, TStatusSide side,
             TUiPoster* poster, bool replace);
  bool Written(const std::string& folder, const std::shared_ptr<TBox>& box, TStatusSide side,
               TUiPoster* poster, const TWritten& written);
  bool EndSave(const std::string& folder, TStatusSide side, const TWritten& written);
  void Report(const std::string& text, TStatusSide side, TStatusKind kind);
  void SetBusy(bool busy);

  TStatusSide FSavingSide = TStatusSide::Out;
  TSaveWorker FWorker;
};

} // namespace pelrow
