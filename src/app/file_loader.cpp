#include "app/file_loader.h"

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstring>
#include <exception>
#include <fcntl.h>
#include <memory>
#include <new>
#include <stdexcept>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>
#include <vector>

#include "app/line_formatter.h"
#include "editor/vkstrings.h"
#include "files/midi_smf.h"
#include "support/clock.h"
#include "support/file_name_text.h"
#include "support/text_format.h"
#include "support/worker_job.h"

namespace pelrow {

namespace {

constexpr uint8_t SysExStart = 0xF0;

// A file read only in part: its message says so, and what was read stays loaded.
class EDamagedFile : public std::runtime_error {
public:
  using std::runtime_error::runtime_error;
};

bool SameIgnoringCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) ==
                  std::tolower(static_cast<unsigned char>(y));
         });
}

// A descriptor that is closed on every way out; it can go to a worker thread.
struct TFd {
  int Fd = -1;
  TFd() = default;
  explicit TFd(int fd) : Fd(fd) {}
  TFd(TFd&& other) noexcept : Fd(std::exchange(other.Fd, -1)) {}
  TFd& operator=(TFd&& other) noexcept {
    std::swap(Fd, other.Fd);
    return *this;
  }
  ~TFd() {
    if (Fd >= 0)
      ::close(Fd);
  }
};

// Ends an update bracket of the line list also when formatting fails.
struct TUpdateBracket {
  TVKStrings& Lines;
  explicit TUpdateBracket(TVKStrings& lines) : Lines(lines) { Lines.BeginUpdate(); }
  ~TUpdateBracket() { Lines.EndUpdate(); }
};

// Only a regular file can be opened: a folder or a device has no bytes to load. No
// descriptor when it cannot be opened.
TFd OpenRegularFile(const std::string& fileName, std::size_t& size) {
  TFd file{::open(fileName.c_str(), O_RDONLY | O_CLOEXEC)};
  struct stat info {};
  if (file.Fd < 0 || ::fstat(file.Fd, &info) != 0 || !S_ISREG(info.st_mode))
    return TFd();
  size = static_cast<std::size_t>(info.st_size);
  return file;
}

// A stop request ends a load at once; the lines are then left as they were or as
// far as they got.
class ELoadStopped : public std::runtime_error {
public:
  using std::runtime_error::runtime_error;
};

bool StopAsked(const std::atomic<bool>* stop) {
  return stop != nullptr && stop->load(std::memory_order_relaxed);
}

// Reads an open file to its end; a stop request ends the read with ELoadStopped.
std::unique_ptr<uint8_t[]> ReadOpenedFile(const TFd& file, const std::string& fileName,
                                          const std::atomic<bool>* stop, std::size_t& size) {
  int error = 0;
  auto buffer = ReadAllBytes(file.Fd, stop, size, error);
  if (buffer)
    return buffer;
  if (StopAsked(stop))
    throw ELoadStopped(LoadStoppedText);
  throw std::runtime_error(FormatText(ReadErrorText, FileNameText(fileName), std::strerror(error)));
}

// Reads the whole file. A regular file is read into one buffer of its full size;
// a pipe, FIFO or device only when streams are allowed, until its end. A folder
// has no bytes to load. Opening a FIFO waits for its writer, as any reader does.
std::unique_ptr<uint8_t[]> ReadWholeFile(const std::string& fileName, bool streams,
                                         const std::atomic<bool>* stop, std::size_t& size,
                                         const std::function<void()>& opened) {
  const auto fail = [&](const char* text, int error) {
    if (StopAsked(stop))
      throw ELoadStopped(LoadStoppedText);
    throw std::runtime_error(
        FormatText(text, FileNameText(fileName), error == 0 ? NotAFileText : std::strerror(error)));
  };
  TFd file{::open(fileName.c_str(), O_RDONLY | O_NOCTTY | O_CLOEXEC)};
  struct stat info {};
  if (file.Fd < 0 || ::fstat(file.Fd, &info) != 0)
    fail(CouldNotOpenText, errno);
  if (S_ISDIR(info.st_mode) || (!S_ISREG(info.st_mode) && !streams))
    fail(CouldNotOpenText, S_ISDIR(info.st_mode) ? EISDIR : 0);
  opened();
  return ReadOpenedFile(file, fileName, stop, size);
}

// Turns a raw or text file's bytes into the lines, which it replaces; answers the
// size text of the success message.
std::string FillLines(TFileKind kind, const uint8_t* bytes, std::size_t size, TVKStrings& lines,
                      int splitThreshold, const TShowStatus& showStatus,
                      const std::atomic<bool>* stop) {
  if (kind == TFileKind::Text) {
    // A NUL character ends the text.
    const auto* chars = reinterpret_cast<const char*>(bytes);
    const std::size_t length = std::find(chars, chars + size, '\0') - chars;
    lines.SetText(std::string_view(chars, length));
    return FormatText(LineCountText, lines.Count());
  }
  TUpdateBracket bracket(lines);
  lines.Clear();
  THexLineAppender appender(lines, splitThreshold, size > LargeFileSize, size, showStatus);
  appender.SetStop(stop);
  appender.Append(bytes, size);
  return FormatText(ByteCountText, static_cast<int>(std::min<std::size_t>(size, INT_MAX)));
}

int ClampToInt(std::size_t value) {
  return static_cast<int>(std::min<std::size_t>(value, INT_MAX));
}

} // namespace

std::unique_ptr<uint8_t[]> ReadAllBytes(int fd, const std::atomic<bool>* stop, std::size_t& size,
                                        int& error) {
  struct stat info {};
  const bool regular = ::fstat(fd, &info) == 0 && S_ISREG(info.st_mode);
  std::size_t capacity = regular ? std::max<std::size_t>(info.st_size, 1) : 1 << 16;
  auto buffer = std::make_unique_for_overwrite<uint8_t[]>(capacity);
  // Read in pieces, so that a stop request is seen within one of them.
  constexpr std::size_t Piece = 1 << 20;
  std::size_t filled = 0;
  for (;;) {
    if (StopAsked(stop)) {
      error = 0;
      return nullptr;
    }
    if (filled == capacity) {
      if (regular && filled == static_cast<std::size_t>(info.st_size))
        break;
      auto larger = std::make_unique_for_overwrite<uint8_t[]>(capacity * 2);
      std::memcpy(larger.get(), buffer.get(), filled);
      buffer = std::move(larger);
      capacity *= 2;
    }
    const ssize_t got = ::read(fd, buffer.get() + filled, std::min(capacity - filled, Piece));
    if (got < 0 && errno == EINTR)
      continue;
    if (got < 0 || (got == 0 && regular && filled < static_cast<std::size_t>(info.st_size))) {
      error = got < 0 ? errno : EIO;
      return nullptr;
    }
    if (got == 0)
      break;
    filled += static_cast<std::size_t>(got);
  }
  size = filled;
  return buffer;
}

std::string_view FileExtension(std::string_view fileName) {
  const std::size_t slash = fileName.find_last_of('/');
  const std::size_t dot = fileName.find_last_of('.');
  if (dot == std::string_view::npos || (slash != std::string_view::npos && dot < slash))
    return {};
  return fileName.substr(dot);
}

TFileKind FileKindOf(std::string_view fileName) {
  const std::string_view extension = FileExtension(fileName);
  if (SameIgnoringCase(extension, ".mid"))
    return TFileKind::MidiFile;
  if (SameIgnoringCase(extension, ".txt"))
    return TFileKind::Text;
  return TFileKind::RawBytes;
}

THexLineAppender::THexLineAppender(TVKStrings& lines, int splitThreshold, bool large,
                                   std::size_t totalSize, const TShowStatus& showStatus)
    : FLines(lines), FSplitThreshold(splitThreshold), FLarge(large), FTotalSize(totalSize),
      FShowStatus(showStatus) {}

void THexLineAppender::Append(const uint8_t* bytes, std::size_t count, std::size_t bytesLeftAfter) {
  std::size_t left = count;
  while (left > 0) {
    // The formatter counts in int; a run beyond that is taken in pieces, which
    // can only cut a line that is longer than 2 GB anyway.
    int piece = ClampToInt(left);
    const int before = piece;
    const int lineBytes = HexLineBytes(bytes, piece, FSplitThreshold);
    if (lineBytes > LongLinePieceBytes) {
      AddLongLine(bytes, lineBytes, left + bytesLeftAfter);
      bytes += lineBytes;
      piece -= lineBytes;
    } else {
      FormatHexLine(bytes, piece, FSplitThreshold, FText);
      FLines.Add(FText);
    }
    left -= static_cast<std::size_t>(before - piece);
    if (++FLineCounter % 4096 == 0 && StopAsked(FStop))
      throw ELoadStopped(LoadStoppedText);
    if (FLarge && FLineCounter % ProgressLineStep == 0)
      ReportProgress(left + bytesLeftAfter);
  }
}

// A line of many megabytes (one huge message) goes into the list a piece at a time,
// so that its text is never held twice, once whole and once in the list.
void THexLineAppender::AddLongLine(const uint8_t* bytes, int count, std::size_t bytesLeft) {
  const int index = FLines.Add({});
  std::size_t column = 0;
  for (int done = 0; done < count;) {
    const int take = std::min(LongLinePieceBytes, count - done);
    WriteHexBytes(bytes + done, take, FText);
    if (done > 0)
      FText.insert(FText.begin(), ' ');
    FLines.InsertInLine(index, static_cast<int>(column), FText);
    column += FText.size();
    done += take;
    if (StopAsked(FStop))
      throw ELoadStopped(LoadStoppedText);
    if (FLarge)
      ReportProgress(bytesLeft - static_cast<std::size_t>(done));
  }
}

void THexLineAppender::ReportProgress(std::size_t bytesLeft) {
  const double done = static_cast<double>(FTotalSize - bytesLeft) / static_cast<double>(FTotalSize);
  const int percent = static_cast<int>(std::lround(done * 100.0));
  // The panel would show the same text again: repainting it thousands of times
  // for a big file costs more than the whole load.
  if (percent == FLastPercent || !FShowStatus)
    return;
  FLastPercent = percent;
  FShowStatus(FormatText(LoadingPercentText, percent), TStatusSide::Out, TStatusKind::StatusOnly,
              true);
}

void TFileLoader::Report(const std::string& text, TStatusKind kind, bool immediate) {
  if (ShowStatus)
    ShowStatus(text, TStatusSide::Out, kind, immediate);
}

void TFileLoader::ReportLoaded(const std::string& fileName, const std::string& sizeText, bool large,
                               uint32_t startMs) {
  if (OnLoaded)
    OnLoaded(*this, fileName);
  if (large)
    Report(FormatText(LoadedInTimeText, FileNameText(fileName),
                      static_cast<int>(FClock.NowMs() - startMs), sizeText.c_str()),
           TStatusKind::Plain, false);
  else
    Report(FormatText(LoadedText, FileNameText(fileName), sizeText.c_str()), TStatusKind::Plain,
           false);
}

void TFileLoader::SetBusy(bool busy) {
  if (OnBusy)
    OnBusy(*this, busy);
}

bool TFileLoader::LoadFile(const std::string& fileName, TVKStrings& lines, int splitThreshold) {
  std::string message;
  try {
    const TFileKind kind = FileKindOf(fileName);
    bool large = false;
    uint32_t startMs = 0;
    const std::string sizeText =
        kind == TFileKind::MidiFile
            ? LoadMidiFile(fileName, lines, splitThreshold)
            : LoadBytesOrText(fileName, kind, lines, splitThreshold, large, startMs);
    ReportLoaded(fileName, sizeText, large, startMs);
    return true;
  } catch (const std::bad_alloc&) {
    message = OutOfMemoryText;
  } catch (const ELoadStopped&) {
    message = FormatText(LoadStoppedText, FileNameText(fileName));
  } catch (const std::exception& e) {
    message = e.what();
  }
  Report(message, TStatusKind::ErrorBox, false);
  return false;
}

std::string TFileLoader::LoadMidiFile(const std::string& fileName, TVKStrings& lines,
                                      int splitThreshold) {
  TSMF smf;
  smf.LoadFromFile(fileName);

  TUpdateBracket bracket(lines);
  lines.Clear();
  THexLineAppender appender(lines, splitThreshold, false, 0, ShowStatus);
  appender.SetStop(Stop);
  std::size_t total = 0;
  // A message stored in timed packets is an F0 event followed by F7 events whose
  // bytes after the marker are what goes out. Each track's System Exclusive
  // bytes are formatted as one run, so the packets join into one message, as if
  // it had been received.
  std::vector<uint8_t> run;
  for (int t = 0; t < smf.TrackCount(); ++t) {
    run.clear();
    for (const TMidiEvent& event : smf.GetTrack(t)->Events()) {
      if (!event.IsSysEx())
        continue;
      if (event.Status == SysExStart)
        run.push_back(SysExStart);
      run.insert(run.end(), event.Stored.begin(), event.Stored.end());
    }
    appender.Append(run.data(), run.size());
    total += run.size();
  }
  const std::string sizeText = FormatText(ByteCountText, ClampToInt(total));
  // What could be read stays in the box; the user learns that it is not all.
  if (!smf.Damage().empty())
    throw EDamagedFile(FormatText(DamagedMidiFileText, FileNameText(fileName), smf.Damage().c_str(),
                                  sizeText.c_str()));
  return sizeText;
}

std::string TFileLoader::LoadBytesOrText(const std::string& fileName, TFileKind kind,
                                         TVKStrings& lines, int splitThreshold, bool& large,
                                         uint32_t& startMs) {
  struct TBusy {
    TFileLoader& Loader;
    bool On = false;
    ~TBusy() {
      if (On)
        Loader.SetBusy(false);
    }
  } busy{*this};

  std::size_t size = 0;
  const auto buffer = ReadWholeFile(fileName, ReadStreams, Stop, size, [&] {
    busy.On = true;
    SetBusy(true);
    Report(FormatText(LoadingText, FileNameText(fileName)), TStatusKind::Plain, true);
  });
  large = size > LargeFileSize;
  if (large)
    startMs = FClock.NowMs();
  return FillLines(kind, buffer.get(), size, lines, splitThreshold, ShowStatus, Stop);
}

// ---- loading on a worker thread ----------------------------------------------------

struct TFileLoader::TLoadJob {
  TFileLoader* Loader = nullptr;
  std::string FileName;
  TFileKind Kind = TFileKind::RawBytes;
  int SplitThreshold = -1;
  TVKStrings* Target = nullptr;
  TFd File;
  std::size_t Size = 0;
  // Set on the UI thread; the worker stops soon after, and nothing it posts acts.
  std::atomic<bool> Cancelled{false};
  // Made by the worker; the UI thread reads them once the worker has posted its end.
  TVKStrings Lines;
  std::string SizeText;
  std::string Failure;
  bool ReadFailed = false;
  // The clock when the bytes were in (UI thread).
  uint32_t StartMs = 0;
};

TFileLoader::~TFileLoader() {
  // The owner is going: the worker is stopped, but nobody is told any more.
  CancelAndJoin(FJob, FWorker);
}

void TFileLoader::StartLoad(const std::string& fileName, TVKStrings& lines, int splitThreshold,
                            TUiPoster& poster) {
  CancelLoad();
  const TFileKind kind = FileKindOf(fileName);
  auto job = std::make_shared<TLoadJob>();
  if (kind != TFileKind::MidiFile)
    job->File = OpenRegularFile(fileName, job->Size);
  // Small files take no time, and a file that cannot be opened is reported at once.
  if (job->File.Fd < 0 || job->Size <= LargeFileSize) {
    job.reset();
    LoadFile(fileName, lines, splitThreshold);
    return;
  }
  job->Loader = this;
  job->FileName = fileName;
  job->Kind = kind;
  job->SplitThreshold = splitThreshold;
  job->Target = &lines;
  SetBusy(true);
  Report(FormatText(LoadingText, FileNameText(fileName)), TStatusKind::Plain, true);
  try {
    FWorker = std::thread([job, &poster] { RunLoadJob(job, poster); });
    FJob = std::move(job);
  } catch (const std::exception& e) {
    SetBusy(false);
    Report(e.what(), TStatusKind::ErrorBox, false);
  }
}

void TFileLoader::RunLoadJob(const std::shared_ptr<TLoadJob>& held, TUiPoster& poster) {
  TLoadJob& job = *held;
  // What the worker posts holds the job, so that it outlives a cancelled load, and
  // acts only while the load still runs.
  const auto post = [&poster, &held](std::function<void(TFileLoader&, TLoadJob&)> step) {
    poster.Post([held, step = std::move(step)] {
      if (!held->Cancelled)
        step(*held->Loader, *held);
    });
  };
  const TShowStatus progress = [&](const std::string& text, TStatusSide, TStatusKind kind,
                                   bool immediate) {
    post([text, kind, immediate](TFileLoader& loader, TLoadJob&) {
      loader.Report(text, kind, immediate);
    });
  };
  try {
    std::unique_ptr<uint8_t[]> buffer;
    try {
      buffer = ReadOpenedFile(job.File, job.FileName, &job.Cancelled, job.Size);
    } catch (...) {
      job.ReadFailed = true;
      throw;
    }
    job.File = TFd();
    if (job.Cancelled)
      return;
    post([](TFileLoader& loader, TLoadJob& job) { job.StartMs = loader.FClock.NowMs(); });
    job.SizeText = FillLines(job.Kind, buffer.get(), job.Size, job.Lines, job.SplitThreshold,
                             progress, &job.Cancelled);
  } catch (const std::bad_alloc&) {
    job.Failure = OutOfMemoryText;
  } catch (const std::exception& e) {
    job.Failure = e.what();
  }
  post([](TFileLoader& loader, TLoadJob& job) { loader.EndLoad(job); });
}

void TFileLoader::EndLoad(TLoadJob& job) {
  if (FWorker.joinable())
    FWorker.join();
  // Kept until the end of this step, which the posted call holds the job for.
  const std::shared_ptr<TLoadJob> held = std::move(FJob);
  if (!job.ReadFailed) {
    // What the worker made replaces the lines, also when it failed part-way; the
    // old lines go with the job.
    TUpdateBracket bracket(*job.Target);
    job.Target->Swap(job.Lines);
  }
  SetBusy(false);
  if (!job.Failure.empty())
    Report(job.Failure, TStatusKind::ErrorBox, false);
  else
    ReportLoaded(job.FileName, job.SizeText, true, job.StartMs);
}

void TFileLoader::CancelLoad() {
  if (!FJob)
    return;
  CancelAndJoin(FJob, FWorker);
  FJob.reset();
  SetBusy(false);
}

} // namespace pelrow
