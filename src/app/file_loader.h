// Loading a file into the Out box. The extension alone decides how: ".mid" takes
// the System Exclusive events of a Standard MIDI File, ".txt" takes the lines as
// they are, anything else (".syx" above all) takes the raw bytes. Binary data
// becomes lines through the same formatter that shows received data, so a loaded
// dump looks exactly like a received one and can be sent again line by line.
//
// The window runs the open dialog and hands the chosen name to TFileLoader; the
// loader reports through ShowStatus and never raises.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <thread>

#include "app/status_report.h"

namespace pelrow {

class TClock;
class TUiPoster;
class TVKStrings;

enum class TFileKind { RawBytes, MidiFile, Text };

// By extension, ignoring case: ".mid" and ".txt"; everything else is raw bytes.
TFileKind FileKindOf(std::string_view fileName);
// The extension with its dot (".syx"), or empty; a dot in a folder name is no
// extension.
std::string_view FileExtension(std::string_view fileName);

// The open dialog.
inline constexpr char OpenDialogTitle[] = "Open Sys-Ex File";
inline constexpr char OpenDialogDefaultExt[] = "syx";
inline constexpr char OpenDialogFilter[] =
    "All supported Files (*.syx;*.mid;*.txt)|*.syx;*.mid;*.txt|Sys Ex Files (*.syx)|*.syx|MIDI "
    "files (*.mid)|*.mid|Text Messages (*.txt)|*.txt|All Files (*.*)|*.*";

// Files of more bytes than this get progress reports and a timed message.
constexpr std::size_t LargeFileSize = 100000;
// A large file's progress is looked at every so many lines.
constexpr int ProgressLineStep = 20;

// Message texts, filled in with FormatText.
inline constexpr char LoadingText[] = "Loading %s...";
inline constexpr char LoadingPercentText[] = "Loading %d%%...";
// The last "%s" is the system's reason.
inline constexpr char CouldNotOpenText[] = "Could not open %s: %s";
inline constexpr char ReadErrorText[] = "Error while reading %s: %s";
inline constexpr char NotAFileText[] = "it is not a regular file";
inline constexpr char LoadStoppedText[] = "Loading %s was stopped.";
// Reading a text file a second time for its lines; this loader reads every file
// once, so only a front end that reads text files separately uses it.
inline constexpr char CannotOpenFileText[] = "Cannot open file \"%s\". %s";
inline constexpr char LoadedInTimeText[] = "%s was loaded succesfully in %d ms (%s)";
inline constexpr char LoadedText[] = "%s was loaded succesfully (%s).";
inline constexpr char ByteCountText[] = "%d bytes";
inline constexpr char LineCountText[] = "%d lines";
inline constexpr char OutOfMemoryText[] = "Out of memory.";
// A MIDI file read only in part: its name, what is wrong, the size text of what
// was loaded.
inline constexpr char DamagedMidiFileText[] = "%s is damaged (%s); only %s could be loaded.";

// Reads everything from fd: a regular file with one buffer of its size, a pipe,
// FIFO or device until its end. Null with the system's reason in error (0 when
// stopped through stop); size is the number of bytes read.
std::unique_ptr<uint8_t[]> ReadAllBytes(int fd, const std::atomic<bool>* stop, std::size_t& size,
                                        int& error);

// Turns runs of bytes into lines of a line list, with progress for large files.
class THexLineAppender {
public:
  // totalSize is the size of the whole file; large switches progress reports on.
  THexLineAppender(TVKStrings& lines, int splitThreshold, bool large, std::size_t totalSize,
                   const TShowStatus& showStatus);

  // Adds the lines of one run; a run never shares a line with the one before it.
  // bytesLeftAfter is what of the file remains after this run (for the percentage).
  void Append(const uint8_t* bytes, std::size_t count, std::size_t bytesLeftAfter = 0);
  // Once stop holds (a cancelled load, a signal), Append ends soon with a failure.
  void SetStop(const std::atomic<bool>* stop) { FStop = stop; }

  // A line of more bytes than this is added in pieces of this size.
  static constexpr int LongLinePieceBytes = 1 << 20;

private:
  void ReportProgress(std::size_t bytesLeft);
  // bytesLeft: what of the file remains from the line's start on (for the percentage).
  void AddLongLine(const uint8_t* bytes, int count, std::size_t bytesLeft);

  TVKStrings& FLines;
  int FSplitThreshold;
  bool FLarge;
  std::size_t FTotalSize;
  const TShowStatus& FShowStatus;
  int FLineCounter = 0;
  int FLastPercent = -1;
  std::string FText;
  const std::atomic<bool>* FStop = nullptr;
};

class TFileLoader {
public:
  explicit TFileLoader(TClock& clock) : FClock(clock) {}
  // A load under way is cancelled.
  ~TFileLoader();
  TFileLoader(const TFileLoader&) = delete;
  TFileLoader& operator=(const TFileLoader&) = delete;

  // Replaces the lines with the file's content and reports the outcome on the Out
  // side: success plainly, failure as an error with message box. A failure before
  // the lines are cleared leaves them as they were. True on success.
  bool LoadFile(const std::string& fileName, TVKStrings& lines, int splitThreshold);

  // The same load with the same steps and messages in the same order, except that a
  // large raw or text file is read and turned into lines on a worker thread while
  // the UI thread goes on; its lines replace the box's in one step once they are
  // all made, and the progress and the outcome reach ShowStatus through poster.
  // Busy stays on until then. Other files load at once. A load under way is
  // cancelled first.
  void StartLoad(const std::string& fileName, TVKStrings& lines, int splitThreshold,
                 TUiPoster& poster);
  bool Loading() const { return FJob != nullptr; }
  // Ends a load under way at once: the worker is joined, the lines stay as they
  // were, nothing more is reported, and busy goes off.
  void CancelLoad();

  TShowStatus ShowStatus;
  // Pipes, FIFOs and devices are read to their end too (the window keeps to files,
  // which cannot leave it waiting for a writer).
  bool ReadStreams = false;
  // When set and raised, a load ends at once with a failure.
  const std::atomic<bool>* Stop = nullptr;
  // Busy on while a raw or text file is read and turned into lines (the window's
  // hourglass cursor); always followed by busy off.
  std::function<void(TFileLoader& sender, bool busy)> OnBusy;
  // A file loaded successfully (the recent-files list takes it to the top).
  std::function<void(TFileLoader& sender, const std::string& fileName)> OnLoaded;

private:
  struct TLoadJob;
  // Each answers the size text of the success message.
  std::string LoadMidiFile(const std::string& fileName, TVKStrings& lines, int splitThreshold);
  std::string LoadBytesOrText(const std::string& fileName, TFileKind kind, TVKStrings& lines,
                              int splitThreshold, bool& large, uint32_t& startMs);
  void Report(const std::string& text, TStatusKind kind, bool immediate);
  void ReportLoaded(const std::string& fileName, const std::string& sizeText, bool large,
                    uint32_t startMs);
  void SetBusy(bool busy);
  // The worker's part of a background load, and the UI thread's end of it.
  static void RunLoadJob(const std::shared_ptr<TLoadJob>& job, TUiPoster& poster);
  void EndLoad(TLoadJob& job);

  TClock& FClock;
  std::shared_ptr<TLoadJob> FJob;
  std::thread FWorker;
};

} // namespace pelrow
