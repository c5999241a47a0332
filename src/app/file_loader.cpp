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
#include <vector>

#include "app/line_formatter.h"
#include "editor/vkstrings.h"
#include "files/midi_smf.h"
#include "support/clock.h"
#include "support/file_name_text.h"
#include "support/text_format.h"

namespace pelrow {

namespace {

constexpr uint8_t SysExStart = 0xF0;
constexpr uint8_t SysExEscape = 0xF7;

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

// Closes a descriptor on every way out.
struct TFd {
  int Fd;
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

// A stop request ends a load at once; the lines are then left as they were or as
// far as they got.
class ELoadStopped : public std::runtime_error {
public:
  using std::runtime_error::runtime_error;
};

bool StopAsked(const std::atomic<bool>* stop) {
  return stop != nullptr && stop->load(std::memory_order_relaxed);
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
    throw std::runtime_error(FormatText(text, FileNameText(fileName),
                                        error == 0 ? NotAFileText : std::strerror(error)));
  };
  TFd file{::open(fileName.c_str(), O_RDONLY | O_NOCTTY | O_CLOEXEC)};
  struct stat info {};
  if (file.Fd < 0 || ::fstat(file.Fd, &info) != 0)
    fail(CouldNotOpenText, errno);
  if (S_ISDIR(info.st_mode) || (!S_ISREG(info.st_mode) && !streams))
    fail(CouldNotOpenText, S_ISDIR(info.st_mode) ? EISDIR : 0);
  opened();
  int error = 0;
  auto buffer = ReadAllBytes(file.Fd, stop, size, error);
  if (!buffer)
    fail(ReadErrorText, error);
  return buffer;
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
    FormatHexLine(bytes, piece, FSplitThreshold, FText);
    left -= static_cast<std::size_t>(before - piece);
    FLines.Add(FText);
    if (++FLineCounter % 4096 == 0 && StopAsked(Stop))
      throw ELoadStopped(LoadStoppedText);
    if (FLarge && FLineCounter % ProgressLineStep == 0)
      ReportProgress(left + bytesLeftAfter);
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
    if (OnLoaded)
      OnLoaded(*this, fileName);
    if (large)
      Report(FormatText(LoadedInTimeText, FileNameText(fileName),
                        static_cast<int>(FClock.NowMs() - startMs), sizeText.c_str()),
             TStatusKind::Plain, false);
    else
      Report(FormatText(LoadedText, FileNameText(fileName), sizeText.c_str()), TStatusKind::Plain,
             false);
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
  appender.Stop = Stop;
  std::size_t total = 0;
  // A message stored in timed packets is an F0 event followed by F7 events whose
  // bytes after the marker are what goes out. Each track's System Exclusive
  // bytes are formatted as one run, so the packets join into one message, as if
  // it had been received.
  std::vector<uint8_t> run;
  for (int t = 0; t < smf.TrackCount(); ++t) {
    run.clear();
    for (const TMidiEvent& event : smf.GetTrack(t)->Events()) {
      if (event.Size <= 0 || (event.Status != SysExStart && event.Status != SysExEscape))
        continue;
      const auto bytes = event.Bytes();
      const std::size_t skip = event.Status == SysExEscape ? 1 : 0;
      run.insert(run.end(), bytes.begin() + static_cast<std::ptrdiff_t>(skip), bytes.end());
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
    void Set(bool busy) {
      On = busy;
      if (Loader.OnBusy)
        Loader.OnBusy(Loader, busy);
    }
    ~TBusy() {
      if (On)
        Set(false);
    }
  } busy{*this};

  std::size_t size = 0;
  const auto buffer = ReadWholeFile(fileName, ReadStreams, Stop, size, [&] {
    busy.Set(true);
    Report(FormatText(LoadingText, FileNameText(fileName)), TStatusKind::Plain, true);
  });
  large = size > LargeFileSize;
  if (large)
    startMs = FClock.NowMs();

  if (kind == TFileKind::Text) {
    // A NUL character ends the text.
    const auto* chars = reinterpret_cast<const char*>(buffer.get());
    const std::size_t length = std::find(chars, chars + size, '\0') - chars;
    lines.SetText(std::string_view(chars, length));
    return FormatText(LineCountText, lines.Count());
  }

  TUpdateBracket bracket(lines);
  lines.Clear();
  THexLineAppender appender(lines, splitThreshold, large, size, ShowStatus);
  appender.Stop = Stop;
  appender.Append(buffer.get(), size);
  return FormatText(ByteCountText, ClampToInt(size));
}

} // namespace pelrow
