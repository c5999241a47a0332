// Only one running copy of the program, when the user wants it so: a later start
// hands its command-line parameters to the running copy and ends. The copies meet
// through a shared block of 3020 bytes and a semaphore named from the executable's
// file name and the user, and a datagram socket on which the running copy hears
// that parameters are waiting. A copy that crashed leaves the block behind; the
// next start notices that nobody answers and takes over at once.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

namespace pelrow {

class EOneInstanceError : public std::runtime_error {
  using std::runtime_error::runtime_error;
};

class TOneInstance {
public:
  using TOnInstanceStarted =
      std::function<void(TOneInstance& sender, const std::vector<std::string>& params)>;

  static constexpr std::size_t BlockSize = 3020;
  static constexpr std::size_t MaxParams = 10;
  static constexpr std::size_t MaxParamLength = 300;
  static constexpr const char* DuplicateText = "Drop only one of these components on your form !";

  // name: what the shared objects are called after; NameFor gives the program's own.
  explicit TOneInstance(std::string name);
  ~TOneInstance();
  TOneInstance(const TOneInstance&) = delete;
  TOneInstance& operator=(const TOneInstance&) = delete;

  // The executable's file name and the user's id, so that copies stored under
  // another file name, or run by another user, never meet.
  static std::string NameFor(const std::string& programPath);

  // The start-up check: hands params (without the program path) to a running
  // first instance, or becomes the first instance. Answers IsFirstInstance().
  bool CheckInstance(const std::vector<std::string>& params);

  bool IsFirstInstance() const { return FState == TState::First; }
  // True only when the parameters went to the running copy and this process
  // must end without showing its window.
  bool IsSecondInstance() const { return FState == TState::HandedOver; }

  bool Active() const { return FActive; }
  void SetActive(bool active);
  bool ShowOnNewInstance() const { return FShowOnNewInstance; }
  void SetShowOnNewInstance(bool show);

  // The first instance watches this descriptor and calls ReceiveHandOver when it
  // is readable; -1 in every other state.
  int HandOverSocket() const { return FSocket; }
  void ReceiveHandOver();

  // Called when another start handed over and ShowOnNewInstance is on: the window
  // restores itself and comes to the front.
  std::function<void(TOneInstance& sender)> OnBringToFront;
  TOnInstanceStarted OnInstanceStarted;
  // How long a start waits for its turn and for the first instance's answer.
  std::chrono::milliseconds AcquireTimeout{10000};

protected:
  virtual void DoInstanceStarted(const std::vector<std::string>& params);

private:
  enum class TState { Unchecked, First, HandedOver, Independent };
  class TMappedBlock;

  bool HandOver(TMappedBlock& block, const std::vector<std::string>& params);
  void RegisterAsFirst(TMappedBlock& block);
  void WriteFlag(std::size_t offset, bool value);
  bool OpenReplySocket();
  bool SendTo(int32_t pid, char message);
  bool WaitForReply(int32_t firstPid);
  bool AcquireTurn(int32_t firstPid);
  void ReleaseTurn();

  std::string FName;
  TState FState = TState::Unchecked;
  bool FActive = true;
  bool FShowOnNewInstance = true;
  int FBlockFd = -1;
  int FSocket = -1;      // first instance: where hand-overs arrive
  int FReplySocket = -1; // handing over: where the answer arrives
  void* FSemaphore = nullptr;
};

} // namespace pelrow
