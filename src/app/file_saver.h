// Saving a box to a file. ".txt" keeps the box's text exactly (every line ended
// by LF, as text files are on Linux); ".mid" writes the MIDI bytes the lines stand
// for as a Standard MIDI File; any other extension writes those bytes raw. The
// bytes come from the same parser that sending uses, so a ".syx" file holds
// exactly what Send would transmit.
//
// A regular file is written to a temporary file in the same folder and renamed
// over the target only when it is complete: a failure part-way (disk full, say)
// leaves the user's earlier file as it was. A device or FIFO is written in place.
//
// The window saves a large box on a worker thread (StartSave), so that it goes on
// answering while hundreds of megabytes are written; the box must not change until
// the save has ended.
#pragma once

#include <atomic>
#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "app/hex_notation.h"
#include "app/save_worker.h"
#include "app/status_report.h"
#include "support/safe_file.h"

namespace pelrow {

class TUiPoster;
class TVKStrings;
struct TSaveOutcome;

enum class TSaveForm { RawBytes, Text, MidiFile };

// ".txt" (ignoring case) is text, ".mid" a MIDI file; everything else is raw bytes.
TSaveForm SaveFormOf(std::string_view fileName);

// The name with "." + extension added when it has none, as the save dialog does
// with its default extension.
std::string WithDefaultExtension(const std::string& fileName, std::string_view extension);

// The save dialog. The overwrite question is asked by TFileSaver, after the
// default extension was added, so it is about the file really written.
inline constexpr char SaveDialogTitle[] = "Save Sys-Ex file";
inline constexpr char SaveDialogDefaultExt[] = "syx";
inline constexpr char SaveDialogFilter[] =
    "All supported Files (*.syx;*.mid;*.txt)|*.syx;*.mid;*.txt|Sys Ex Files (*.syx)|*.syx|MIDI "
    "files (*.mid)|*.mid|Text Messages (*.txt)|*.txt|All Files (*.*)|*.*";
inline constexpr char ConfirmOverwriteText[] = "%s already exists.\nDo you want to replace it?";

// Message texts, filled in with FormatText; the last "%s" is the system's reason.
inline constexpr char CouldNotCreateText[] = "Could not create %s. %s";
inline constexpr char WriteErrorText[] = "Error while writing to %s. %s";
inline constexpr char CannotCreateFileText[] = "Cannot create file \"%s\". %s";
inline constexpr char SaveStoppedText[] = "Saving %s was stopped; the file was left as it was.";
inline constexpr char SavedText[] = "%s saved succesfully (%s).";
inline constexpr char SavedWithGapsText[] =
    "%s is incomplete: input was lost or cut short while it was received (see the marks in the "
    "box).";
inline constexpr char SavedMaybeGapsText[] =
    "%s may be incomplete: the MIDI system was interrupted while it was received.";

// A box of more text than this (line ends included) is saved on a worker thread.
constexpr std::size_t LargeSaveTextSize = 100000;

// What ends every line of a ".txt" file.
inline constexpr char TextLineEnd[] = "\n";

// The bytes of every line that holds any, in line order. Lines are trimmed of
// characters 0..32 at both ends first; the parser reports invalid characters.
std::string SyxBytesOfLines(const TVKStrings& lines, THexParser& parser);

// The same bytes as a Standard MIDI File; byteCount answers how many MIDI bytes
// it holds.
std::string MidiFileOfLines(const TVKStrings& lines, THexParser& parser, std::size_t& byteCount);

class TFileSaver {
public:
  TFileSaver() = default;
  // A save under way is stopped; the earlier file stays as it was.
  ~TFileSaver();
  TFileSaver(const TFileSaver&) = delete;
  TFileSaver& operator=(const TFileSaver&) = delete;

  // Asks for a file name and saves the lines there. Cancelling the dialog or the
  // overwrite question changes and reports nothing. True when a file was saved.
  bool SaveBox(const TVKStrings& lines, TStatusSide side);
  // The same dialog and question, then StartSave.
  void StartSaveBox(const TVKStrings& lines, TStatusSide side, TUiPoster& poster);

  // SaveFile with the same steps and messages in the same order, except that a large
  // box going to a regular file is written by a worker thread while the UI thread
  // goes on; the reports (the parser's too) reach ShowStatus through poster, and
  // busy stays on until the end. The lines must not change meanwhile. A save under
  // way is stopped first.
  void StartSave(const std::string& fileName, const TVKStrings& lines, TStatusSide side,
                 TUiPoster& poster);
  bool Saving() const { return FWorker.Running(); }
  // The side of the box being saved, or last saved.
  TStatusSide SavingSide() const { return FSavingSide; }
  // Ends a save under way: the worker is joined, the temporary file is removed and
  // the earlier file stays as it was (unless the new one was already in place),
  // nothing more is reported, and busy goes off.
  void CancelSave();

  // Saves the lines to fileName and reports on the box's side: success plainly,
  // failure as an error with message box. Raw bytes saved from lines that mark
  // lost input are an incomplete file: the user is warned with a message box. True
  // on success.
  bool SaveFile(const std::string& fileName, const TVKStrings& lines, TStatusSide side);
  // As SaveFile, into an output opened by the caller (fileName names it in the
  // reports); the output is committed on success and abandoned on failure. An
  // output that could not be opened is reported as a file that cannot be created.
  bool SaveTo(TOutputTarget& target, const std::string& fileName, TSaveForm form,
              const TVKStrings& lines, TStatusSide side);

  // Reports of the save itself, and of invalid characters (always on the Out side).
  void SetShowStatus(TShowStatus showStatus);

  // When set and raised, a save ends at once and the output is abandoned.
  const std::atomic<bool>* Stop = nullptr;

  // The save dialog: the chosen name, or nothing when the user cancels.
  std::function<std::optional<std::string>(TFileSaver& sender)> OnChooseFileName;
  // The file exists: may it be replaced? Unassigned means yes.
  std::function<bool(TFileSaver& sender, const std::string& fileName)> OnConfirmOverwrite;
  // Busy on while a file is written (the hourglass cursor); always followed by off.
  std::function<void(TFileSaver& sender, bool busy)> OnBusy;
  // A file saved successfully (the recent-files list takes it to the top).
  std::function<void(TFileSaver& sender, const std::string& fileName)> OnSaved;

private:
  struct TSaveJob;
  std::optional<std::string> ChooseFileName();
  void SetBusy(bool busy);
  // The UI thread's end of a save: the recent files, the reports, busy off.
  bool EndSave(const std::string& fileName, TStatusSide side, const TSaveOutcome& outcome);

  TShowStatus FShowStatus;
  THexParser FParser;
  TSaveWorker FWorker;
  TStatusSide FSavingSide = TStatusSide::Out;
};

} // namespace pelrow
