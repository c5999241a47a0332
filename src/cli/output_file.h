// Where pelrow-cli writes: the form an output takes, whether it can be written at
// all (asked before anything is listened to or read), and saving a capture so that
// it is never thrown away.
#pragma once

#include "app/file_saver.h"
#include "cli/cli_commands.h"

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>

namespace pelrow::cli {

// The name messages give standard output.
inline constexpr char StandardOutputName[] = "standard output";

// The form of an output: ".syx" raw bytes, ".txt" hex lines; standard output and
// anything that is not a regular file (a device, a FIFO) without one of these
// extensions get hex lines, as a terminal shows them. Any other name is refused
// (an unknown extension is more likely a mistake than a wish for raw bytes).
bool OutputFormOf(const std::string& fileName, TSaveForm& form, std::string& error);

// Whether a file of that name can be written: not a folder, not read-only, in a
// folder that exists and may be written to. False with the file and the reason in
// error.
bool CheckOutputFile(const std::string& fileName, std::string& error);

// Saves captured lines to fileName. When that fails, they are saved beside it
// under a new name, else in the temporary folder, and standard error says where.
// True when they reached fileName itself.
bool SaveCapture(const std::string& fileName, const TVKStrings& lines, TCliStreams& streams);

// Lines for an output written in place while a capture goes on (standard output),
// written by a thread of their own: a reader that pauses holds up that thread,
// never the one that takes input, whose buffers would overflow meanwhile. What
// waits for the output is bounded by limitBytes.
class TOutputWriter {
public:
  // A reader that takes nothing while this much waits is not coming back soon.
  static constexpr std::size_t DefaultLimitBytes = std::size_t(256) << 20;

  explicit TOutputWriter(TOutputTarget& output, std::size_t limitBytes = DefaultLimitBytes);
  // Finishes.
  ~TOutputWriter();
  TOutputWriter(const TOutputWriter&) = delete;
  TOutputWriter& operator=(const TOutputWriter&) = delete;

  // A line and its end, handed to the thread at the next Flush.
  void Add(std::string_view line);
  // Hands over what was added since the last call; false once the output failed.
  bool Flush();
  // limitBytes or more wait for the output.
  bool Full() const;
  std::size_t LimitBytes() const { return FLimitBytes; }
  // Waits until everything handed over is written, or the output failed, and
  // ends the thread. The output may be used again from then on.
  void Finish();

private:
  void Run();

  TOutputTarget& FOutput;
  const std::size_t FLimitBytes;
  std::string FAdded; // not handed over yet
  mutable std::mutex FLock;
  std::condition_variable FWake;
  std::deque<std::string> FPending;
  std::size_t FWaiting = 0; // bytes handed over and not written yet
  bool FFailed = false;
  bool FEnding = false;
  std::thread FThread;
};

} // namespace pelrow::cli
