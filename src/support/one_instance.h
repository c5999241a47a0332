// Only one running window per desktop session, when the user wants it so: a later
// start hands its command-line parameters to the running window and ends. Copies
// meet in the user's private runtime folder, through a lock file and a datagram
// socket named for the scope (display and settings folder), so starts on another
// display or with other settings run on their own. The window that takes
// hand-overs holds the lock and listens on the socket; a later start that finds
// the lock held sends its parameters there and waits for the answer, which comes
// as soon as they arrived, whatever the window is busy with. A copy that crashed
// leaves only its files: its lock went with it, and the next start takes over.
#pragma once

#include <atomic>
#include <chrono>
#include <deque>
#include <functional>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace pelrow {

class EOneInstanceError : public std::runtime_error {
  using std::runtime_error::runtime_error;
};

class TOneInstance {
public:
  // What one later start handed over: its parameters (without the program path)
  // and the token with which its desktop lets a window come to the front.
  struct THandOver {
    std::vector<std::string> Params;
    std::string ActivationToken;
  };
  using TOnInstanceStarted =
      std::function<void(TOneInstance& sender, const std::vector<std::string>& params)>;

  // Far above any command line a desktop builds; a start with more runs on its own.
  static constexpr std::size_t MaxHandOverBytes = 1 << 20;
  static constexpr const char* DuplicateText = "Drop only one of these components on your form !";

  // scope: what the objects are called after (ScopeFor gives it); folder: where
  // they live, the private runtime folder unless a test chooses another.
  explicit TOneInstance(std::string scope, std::string folder = DefaultFolder());
  virtual ~TOneInstance();
  TOneInstance(const TOneInstance&) = delete;
  TOneInstance& operator=(const TOneInstance&) = delete;

  // One scope per display (or Wayland display) and settings folder; the folder is
  // the user's own already.
  static std::string ScopeFor(const std::string& display, const std::string& settingsFolder);
  static std::string DefaultFolder();

  // The start-up check: hands params and the start's activation token to a running
  // window that takes hand-overs, or makes this process the first instance. The
  // first instance holds its place, but takes hand-overs only once SetActive(true)
  // says so (its settings are read then); later starts wait for that moment.
  bool CheckInstance(const std::vector<std::string>& params,
                     const std::string& activationToken = {});

  bool IsFirstInstance() const { return FState == TState::First; }
  // True only when the parameters went to the running window and this process
  // must end without showing its own.
  bool IsSecondInstance() const { return FState == TState::HandedOver; }

  bool Active() const { return FActive; }
  // On: take hand-overs, taking the first instance's place when nobody holds it.
  // Off: give the place up, so later starts run on their own or go to a window
  // that wants them.
  void SetActive(bool active);
  bool ShowOnNewInstance() const { return FShowOnNewInstance; }
  void SetShowOnNewInstance(bool show) { FShowOnNewInstance = show; }

  // Readable while hand-overs wait; the owner then calls ReceiveHandOver on its
  // own thread. The same descriptor for the life of the object.
  int HandOverNotice() const { return FNotice; }
  void ReceiveHandOver();

  // A later start handed over and ShowOnNewInstance is on: the window restores
  // itself and comes to the front, with the start's token where there is one.
  std::function<void(TOneInstance& sender, const std::string& activationToken)> OnBringToFront;
  TOnInstanceStarted OnInstanceStarted;
  // How long a start waits for the first instance to listen and to answer.
  std::chrono::milliseconds HandOverTimeout{5000};

protected:
  virtual void DoInstanceStarted(const THandOver& handOver);

private:
  enum class TState { Unchecked, First, HandedOver, Independent };
  enum class TOutcome { HandedOver, BecameFirst, OnItsOwn };

  std::string LockPath() const { return FFolder + "/" + FScope + ".lock"; }
  std::string SocketPath() const { return FFolder + "/" + FScope + ".socket"; }
  bool TakeLock();
  TOutcome HandOver(const std::string& message);
  bool StartListening();
  void Listen(int socket);
  void ReceiveOne(int socket, std::vector<char>& buffer);
  void GiveUpPlace();

  std::string FScope;
  std::string FFolder;
  TState FState = TState::Unchecked;
  std::atomic<bool> FActive{true};
  bool FShowOnNewInstance = true;
  int FLock = -1; // the lock file, open from the check on
  bool FLocked = false;
  int FSocket = -1; // where hand-overs arrive while listening
  int FNotice = -1; // an eventfd: hand-overs are queued
  int FStop = -1;   // an eventfd: the listener ends
  std::thread FListener;
  std::mutex FQueueLock;
  std::deque<THandOver> FQueue;
};

} // namespace pelrow
