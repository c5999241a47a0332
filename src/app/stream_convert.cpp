#include "app/stream_convert.h"

#include "support/file_name_text.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cstring>
#include <exception>
#include <fcntl.h>
#include <memory>
#include <new>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "app/file_loader.h"
#include "app/file_saver.h"
#include "app/hex_notation.h"
#include "files/midi_smf.h"
#include "support/hex_digits.h"
#include "support/text_format.h"

namespace pelrow {

namespace {

// Small enough to look at the stop request every few milliseconds, large enough
// that system calls cost nothing next to the formatting.
constexpr std::size_t ChunkSize = 256 * 1024;
constexpr std::size_t OutputFlushSize = 1024 * 1024;
// Every byte becomes at most a separator and two digits.
constexpr std::size_t MaxTextPerByte = 3;
constexpr std::size_t MidiEventsPerStopCheck = 4096;

constexpr uint8_t EndOfExclusive = 0xF7;
constexpr uint8_t SysExStart = 0xF0;
constexpr const std::array<uint8_t, 256>& DigitValue = HexDigitValues;

// The two digits of every byte.
constexpr std::array<std::array<char, 2>, 256> HexPairs = [] {
  std::array<std::array<char, 2>, 256> pairs{};
  for (int b = 0; b < 256; ++b)
    pairs[b] = {HexDigits[b >> 4], HexDigits[b & 0x0F]};
  return pairs;
}();

// A status byte starts a new line, except F7, which stays on the line it closes.
constexpr std::array<bool, 256> StartsLine = [] {
  std::array<bool, 256> starts{};
  for (int b = 0x80; b < 256; ++b)
    starts[b] = b != EndOfExclusive;
  return starts;
}();

// A failure that ends the conversion with its status and message.
struct TConvertFailure {
  TConvertStatus Status;
  std::string Message;
};

// Collects output and hands it to the sink in large pieces.
class TOutput {
public:
  explicit TOutput(TByteSink& sink) : FSink(sink) {}

  // Room for size more characters at the end; Commit says how many were used.
  char* Room(std::size_t size) {
    if (FUsed + size > FCapacity) {
      Flush();
      if (size > FCapacity) {
        FBuffer = std::make_unique_for_overwrite<char[]>(size);
        FCapacity = size;
      }
    }
    return FBuffer.get() + FUsed;
  }
  void Commit(std::size_t used) {
    FUsed += used;
    if (FUsed >= OutputFlushSize)
      Flush();
  }
  void Put(const char* data, std::size_t size) {
    std::memcpy(Room(size), data, size);
    Commit(size);
  }
  void Flush() {
    if (FUsed > 0 && !FSink.Write(FBuffer.get(), FUsed))
      throw TConvertFailure{TConvertStatus::WriteFailed, {}};
    FUsed = 0;
  }

private:
  TByteSink& FSink;
  std::size_t FCapacity = OutputFlushSize * 2;
  std::unique_ptr<char[]> FBuffer = std::make_unique_for_overwrite<char[]>(FCapacity);
  std::size_t FUsed = 0;
};

// Formats a stream of bytes into the window's hex lines, one run at a time: a
// line ends before a status byte other than F7 and, with a limit, after that many
// bytes; a run never shares a line with the one before it.
class THexLineWriter {
public:
  THexLineWriter(TOutput& output, int limit)
      : FOutput(output), FLimit(limit > 0 ? static_cast<uint64_t>(limit) : UINT64_MAX) {}

  void Add(const uint8_t* bytes, std::size_t count) {
    if (count == 0)
      return;
    char* const start = FOutput.Room(count * MaxTextPerByte);
    char* out = start;
    std::size_t i = 0;
    if (FLineBytes == 0) {
      std::memcpy(out, HexPairs[bytes[0]].data(), 2);
      out += 2;
      FLineBytes = 1;
      i = 1;
    }
    // Without branches on the bytes: in random data every other byte starts a line,
    // and a mispredicted jump per byte would cost more than the formatting.
    uint64_t lineBytes = FLineBytes;
    uint64_t lines = FLines;
    for (; i < count; ++i) {
      const uint8_t b = bytes[i];
      const bool cut = StartsLine[b] | (lineBytes >= FLimit);
      out[0] = cut ? '\n' : ' ';
      std::memcpy(out + 1, HexPairs[b].data(), 2);
      out += 3;
      lines += cut;
      lineBytes = (cut ? 0 : lineBytes) + 1;
    }
    FLineBytes = lineBytes;
    FLines = lines;
    FOutput.Commit(static_cast<std::size_t>(out - start));
  }

  void EndRun() {
    if (FLineBytes == 0)
      return;
    FOutput.Put("\n", 1);
    ++FLines;
    FLineBytes = 0;
  }

  uint64_t Lines() const { return FLines; }

private:
  TOutput& FOutput;
  uint64_t FLimit;
  uint64_t FLineBytes = 0;
  uint64_t FLines = 0;
};

// Where the bytes of the input go: raw, or as hex lines.
class TByteTarget {
public:
  TByteTarget(TOutput& output, bool asText, int limit)
      : FOutput(output), FAsText(asText), FWriter(output, limit) {}

  // In pieces, so that one huge message from a MIDI file needs no more room than
  // a chunk of a raw file.
  void Add(const uint8_t* bytes, std::size_t count) {
    FBytes += count;
    while (count > 0) {
      const std::size_t piece = std::min(count, ChunkSize);
      if (FAsText)
        FWriter.Add(bytes, piece);
      else
        FOutput.Put(reinterpret_cast<const char*>(bytes), piece);
      bytes += piece;
      count -= piece;
    }
  }
  void EndRun() { FWriter.EndRun(); }
  uint64_t Bytes() const { return FBytes; }
  uint64_t Lines() const { return FWriter.Lines(); }

private:
  TOutput& FOutput;
  bool FAsText;
  THexLineWriter FWriter;
  uint64_t FBytes = 0;
};

// Lines of text as the window's line list splits them: at CR LF, a lone CR or a
// lone LF; a break at the very end starts no further line. The reader of the
// characters sees each line's characters and its end, and a NUL character, which
// no text holds.
template <typename TLineReader> class TLineSplitter {
public:
  explicit TLineSplitter(TLineReader& reader) : FReader(reader) {}

  void Feed(const char* chars, std::size_t count) {
    const void* nul = std::memchr(chars, '\0', count);
    if (nul != nullptr) {
      FeedLines(chars, static_cast<std::size_t>(static_cast<const char*>(nul) - chars));
      FReader.NulCharacter();
    }
    FeedLines(chars, count);
  }

  void Finish() {
    if (FLineOpen)
      FReader.LineEnd();
  }

private:
  void FeedLines(const char* chars, std::size_t count) {
    std::size_t i = 0;
    if (FAfterCR && count > 0 && chars[0] == '\n')
      i = 1; // the LF of a CR LF cut between two chunks
    FAfterCR = false;
    while (i < count) {
      std::size_t end = i;
      while (end < count && chars[end] != '\n' && chars[end] != '\r')
        ++end;
      if (end > i) {
        FReader.Characters(chars + i, end - i);
        FLineOpen = true;
      }
      if (end == count)
        break;
      FReader.LineEnd();
      FLineOpen = false;
      i = end + 1;
      if (chars[end] == '\r') {
        if (i == count)
          FAfterCR = true;
        else if (chars[i] == '\n')
          ++i;
      }
    }
  }

  TLineReader& FReader;
  bool FAfterCR = false;
  bool FLineOpen = false;
};

// Text input is refused at a NUL character: the window would end the text there
// and silently lose the rest.
[[noreturn]] void ThrowNul(const std::string& name, uint64_t line, uint64_t column) {
  throw TConvertFailure{TConvertStatus::BadInput,
                        FormatText(ConvertNulInTextText, name, line, column)};
}

// Copies text lines as they are, each ended by LF.
class TTextCopier {
public:
  TTextCopier(TOutput& output, const std::string& name) : FOutput(output), FName(name) {}

  void Characters(const char* chars, std::size_t count) {
    FOutput.Put(chars, count);
    FColumn += count;
  }
  void LineEnd() {
    FOutput.Put("\n", 1);
    ++FLines;
    FColumn = 0;
  }
  uint64_t Lines() const { return FLines; }
  [[noreturn]] void NulCharacter() { ThrowNul(FName, FLines + 1, FColumn + 1); }

private:
  TOutput& FOutput;
  const std::string& FName;
  uint64_t FLines = 0;
  uint64_t FColumn = 0;
};

// Reads hex text line by line with the window's notation, in pieces of any size,
// so that a line of any length needs no more memory than a chunk. Any character
// that the notation reports ends the conversion: the output would lack it. Only
// the end of the line is trimmed, so columns are those of the text as written.
class THexTextReader {
public:
  THexTextReader(TByteTarget& target, const std::string& name) : FTarget(target), FName(name) {}

  void Characters(const char* chars, std::size_t count) {
    // Half the characters plus one pending from before is the most they can give.
    if (FUsed + count / 2 + 1 > FBytes.size())
      Flush();
    const auto* c = reinterpret_cast<const uint8_t*>(chars);
    uint8_t* out = FBytes.data() + FUsed;
    std::size_t i = 0;
    while (i < count) {
      if (FState == TState::Idle) {
        // The usual text: whole bytes and blanks.
        while (i + 1 < count) {
          if (c[i] <= 32) {
            ++i;
            continue;
          }
          const uint8_t high = DigitValue[c[i]];
          const uint8_t low = DigitValue[c[i + 1]];
          if ((high | low) >= 16)
            break;
          *out++ = static_cast<uint8_t>(high << 4 | low);
          i += 2;
        }
        if (i < count && c[i] > 32) {
          FPending = c[i];
          FPendingColumn = FColumn + i;
          FState = TState::Pending;
        }
        ++i;
        continue;
      }
      const uint8_t ch = c[i++];
      if (FState == TState::Comment) {
        i = count;
      } else if (FState == TState::PendingBeforeBlank) {
        if (ch > 32)
          Unexpected(FPendingBlank);
      } else if ((DigitValue[FPending] | DigitValue[ch]) < 16) {
        *out++ = static_cast<uint8_t>(DigitValue[FPending] << 4 | DigitValue[ch]);
        FState = TState::Idle;
      } else if (FPending == ';' || FPending == '#' || (FPending == '/' && ch == '/')) {
        FState = TState::Comment;
      } else if (ch <= 32) {
        // An error only if more than blanks follow on the line: the notation never
        // starts a byte at the line's last character.
        FPendingBlank = ch;
        FState = TState::PendingBeforeBlank;
      } else {
        Unexpected(ch);
      }
    }
    FUsed = static_cast<std::size_t>(out - FBytes.data());
    FColumn += count;
  }

  void Flush() {
    FTarget.Add(FBytes.data(), FUsed);
    FUsed = 0;
  }

  [[noreturn]] void NulCharacter() { ThrowNul(FName, FLine, FColumn + 1); }

  void LineEnd() {
    if ((FState == TState::Pending || FState == TState::PendingBeforeBlank) && FPending != ';' &&
        FPending != '#' && FNote.empty())
      FNote = FormatText(std::isxdigit(FPending) ? LoneHexDigitText : StrayLastCharacterText, FName,
                         FLine, FPendingColumn + 1,
                         std::string(1, static_cast<char>(FPending)).c_str());
    FState = TState::Idle;
    ++FLine;
    FColumn = 0;
  }

  const std::string& Note() const { return FNote; }

private:
  enum class TState { Idle, Pending, PendingBeforeBlank, Comment };

  // The pair that the notation rejects, at the 1-based column of its second character.
  [[noreturn]] void Unexpected(uint8_t second) {
    const char pair[2] = {static_cast<char>(FPending), static_cast<char>(second)};
    const std::string report =
        UnexpectedCharactersText(FLine, FPendingColumn + 2, std::string_view(pair, 2));
    // "line L:C: ..." becomes "NAME:L:C: ...".
    throw TConvertFailure{TConvertStatus::BadInput,
                          FName + ":" + report.substr(std::strlen("line "))};
  }

  TByteTarget& FTarget;
  const std::string& FName;
  std::vector<uint8_t> FBytes = std::vector<uint8_t>(ChunkSize);
  std::size_t FUsed = 0;
  TState FState = TState::Idle;
  uint8_t FPending = 0;
  uint8_t FPendingBlank = 0;
  uint64_t FPendingColumn = 0;
  uint64_t FLine = 1;
  uint64_t FColumn = 0;
  std::string FNote;
};

void CheckStop(const TConvertRequest& request) {
  if (request.StopRequested && request.StopRequested())
    throw TConvertFailure{TConvertStatus::Stopped, {}};
}

// Closes a descriptor on every way out.
struct TInputFile {
  int Fd = -1;
  ~TInputFile() {
    if (Fd >= 0)
      ::close(Fd);
  }
};

// Opens the input: a file, a pipe or a device, anything but a folder.
void OpenInput(const TConvertRequest& request, TInputFile& input) {
  const std::string& name = request.InputName;
  do {
    input.Fd = ::open(name.c_str(), O_RDONLY | O_CLOEXEC);
    if (input.Fd < 0 && errno == EINTR)
      CheckStop(request);
  } while (input.Fd < 0 && errno == EINTR);
  struct stat info {};
  if (input.Fd < 0 || ::fstat(input.Fd, &info) != 0 || S_ISDIR(info.st_mode))
    throw TConvertFailure{TConvertStatus::BadInput,
                          FormatText(CouldNotOpenText, FileNameText(name),
                                     std::strerror(input.Fd < 0 ? errno : EISDIR))};
}

// Hands the input to take in chunks until it ends.
template <typename TTake> void ReadChunks(const TConvertRequest& request, TTake take) {
  TInputFile input;
  OpenInput(request, input);
  std::vector<char> chunk(ChunkSize);
  for (;;) {
    CheckStop(request);
    const ssize_t got = ::read(input.Fd, chunk.data(), chunk.size());
    if (got == 0)
      return;
    if (got < 0 && errno == EINTR)
      continue;
    if (got < 0)
      throw TConvertFailure{
          TConvertStatus::BadInput,
          FormatText(ReadErrorText, FileNameText(request.InputName), std::strerror(errno))};
    take(chunk.data(), static_cast<std::size_t>(got));
  }
}

// A message stored in timed packets is an F0 event followed by F7 events whose
// bytes after the marker are what goes out: each track's System Exclusive bytes
// are one run, so the packets join into one message, as if it had been received.
void ConvertMidiFile(const TConvertRequest& request, TByteTarget& target) {
  TSMF smf;
  try {
    smf.LoadFromFile(request.InputName);
  } catch (const ESMF& e) {
    throw TConvertFailure{TConvertStatus::BadInput, SMFErrorOfFile(request.InputName, e.what())};
  }
  const std::string& name = request.InputName;
  // Checked before a byte goes out: an output written in place (a pipe) would
  // otherwise get part of a file that is refused.
  if (!smf.Damage().empty())
    throw TConvertFailure{TConvertStatus::BadInput,
                          FormatText(ConvertDamagedMidiText, name, smf.Damage().c_str())};
  std::size_t events = 0;
  for (int t = 0; t < smf.TrackCount(); ++t) {
    for (const TMidiEvent& event : smf.GetTrack(t)->Events()) {
      if (++events % MidiEventsPerStopCheck == 0)
        CheckStop(request);
      if (!event.IsSysEx())
        continue;
      if (event.Status == SysExStart)
        target.Add(&SysExStart, 1);
      target.Add(event.Stored.data(), event.Stored.size());
    }
    target.EndRun();
  }
  if (target.Bytes() == 0)
    throw TConvertFailure{TConvertStatus::BadInput, FormatText(NoSysExInFileText, name)};
}

} // namespace

TConvertResult ConvertStream(const TConvertRequest& request, TByteSink& sink) {
  TConvertResult result;
  try {
    TOutput output(sink);
    const TFileKind in = FileKindOf(request.InputName);
    const TSaveForm form = request.OutputForm.value_or(SaveFormOf(request.OutputName));
    if (form == TSaveForm::MidiFile)
      throw TConvertFailure{TConvertStatus::BadInput,
                            FormatText(ConvertNoMidiOutputText, request.OutputName)};
    const bool asText = form == TSaveForm::Text;
    TByteTarget target(output, asText, request.SplitThreshold);
    if (in == TFileKind::MidiFile) {
      ConvertMidiFile(request, target);
    } else if (in == TFileKind::Text && asText) {
      TTextCopier copier(output, request.InputName);
      TLineSplitter<TTextCopier> lines(copier);
      ReadChunks(request, [&](const char* chars, std::size_t count) { lines.Feed(chars, count); });
      lines.Finish();
      result.Lines = copier.Lines();
      output.Flush();
      return result;
    } else if (in == TFileKind::Text) {
      THexTextReader reader(target, request.InputName);
      TLineSplitter<THexTextReader> lines(reader);
      ReadChunks(request, [&](const char* chars, std::size_t count) { lines.Feed(chars, count); });
      lines.Finish();
      reader.Flush();
      result.Note = reader.Note();
    } else {
      ReadChunks(request, [&](const char* chars, std::size_t count) {
        target.Add(reinterpret_cast<const uint8_t*>(chars), count);
      });
      target.EndRun();
    }
    output.Flush();
    result.MidiBytes = target.Bytes();
    result.Lines = target.Lines();
  } catch (const TConvertFailure& failure) {
    result.Status = failure.Status;
    result.Message = failure.Message;
  } catch (const std::bad_alloc&) {
    result.Status = TConvertStatus::BadInput;
    result.Message = OutOfMemoryText;
  }
  return result;
}

} // namespace pelrow
