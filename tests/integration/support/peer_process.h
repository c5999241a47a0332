// The far side of the MIDI cable in integration tests and benchmarks: a separate
// process with JACK ports of its own, driven one command line at a time. Two peers
// speak the same commands: the python3-rtmidi script, which reassembles messages
// as a typical MIDI application does, and a raw one written against libjack, which
// sees and writes single JACK events.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <string>
#include <vector>

namespace pelrow::testing {

enum class TPeerKind { Reassembling, RawEvents };

class TPeerProcess {
public:
  explicit TPeerProcess(TPeerKind kind = TPeerKind::Reassembling);
  ~TPeerProcess();
  TPeerProcess(const TPeerProcess&) = delete;
  TPeerProcess& operator=(const TPeerProcess&) = delete;

  bool Running() const { return FPid > 0; }
  // Sends one command and returns the peer's one-line answer ("ok ...", "error ...").
  std::string Command(const std::string& line);
  bool Ok(const std::string& line) { return Command(line).rfind("ok", 0) == 0; }

  // Full JACK name of a port the peer opened as NAME.
  static std::string PortName(const std::string& name);

  // Sends bytes from output NAME through a temporary file; true when all went out.
  // Raw peer: pieceBytes > 0 sends longer messages in events of that size, as a
  // source that splits them does.
  bool SendBytes(const std::string& name, const std::vector<uint8_t>& bytes,
                 uint32_t pieceBytes = 0);
  // Waits until input NAME has recorded count bytes (or timeoutMs passed), then
  // returns what it recorded and forgets it.
  std::vector<uint8_t> Receive(const std::string& name, size_t count, int timeoutMs);
  // Raw peer only: as Receive, each JACK event on its own.
  std::vector<std::vector<uint8_t>> ReceiveEvents(const std::string& name, size_t count,
                                                  int timeoutMs);
  pid_t Pid() const { return FPid; }
  // SIGKILL, as when the program crashes: its JACK clients vanish without a word.
  void Kill();

private:
  void WaitForCount(const std::string& name, size_t count, int timeoutMs);

  pid_t FPid = -1;
  int FToPeer = -1;
  int FFromPeer = -1;
  std::string FPending;
  std::string FScratch;
};

} // namespace pelrow::testing
