// Single-instance coordination over a lock file and a datagram socket in the
// user's private runtime folder. The socket's datagrams carry the sender's
// credentials, and only the user's own are heard.
#include "support/one_instance.h"

#include "support/private_folder.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace pelrow {

namespace {

// A hand-over datagram: the mark, then the activation token and every parameter,
// each ended by a zero byte (none of them can hold one).
constexpr char MessageHandOver = 'H';
// The first instance's answers: it took the parameters, or its window takes none.
constexpr char ReplyTaken = 'A';
constexpr char ReplyNotTaken = 'N';

// A start looks again this often for a first instance that is not listening yet,
// or that went away meanwhile.
constexpr auto RetryStep = std::chrono::milliseconds(20);
// Room for the sender's credentials and a few descriptors it may have attached,
// which are closed unread.
constexpr std::size_t ControlRoom = CMSG_SPACE(sizeof(ucred)) + CMSG_SPACE(16 * sizeof(int));

TOneInstance* LiveComponent = nullptr;

bool PathAddress(const std::string& path, sockaddr_un& address, socklen_t& length) {
  address = {};
  address.sun_family = AF_UNIX;
  if (path.size() >= sizeof address.sun_path)
    return false;
  std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
  length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + path.size() + 1);
  return true;
}

std::string EncodeHandOver(const TOneInstance::THandOver& handOver) {
  std::string message(1, MessageHandOver);
  const auto add = [&message](const std::string& field) {
    message.append(field.c_str());
    message += '\0';
  };
  add(handOver.ActivationToken);
  for (const std::string& param : handOver.Params)
    add(param);
  return message;
}

bool DecodeHandOver(std::string_view message, TOneInstance::THandOver& handOver) {
  if (message.size() < 2 || message.front() != MessageHandOver || message.back() != '\0')
    return false;
  message.remove_prefix(1);
  bool token = true;
  while (!message.empty()) {
    const std::size_t end = message.find('\0');
    std::string field(message.substr(0, end));
    if (token)
      handOver.ActivationToken = std::move(field);
    else
      handOver.Params.push_back(std::move(field));
    token = false;
    message.remove_prefix(end + 1);
  }
  return true;
}

// A socket of an address of its own (an abstract one the system picks), so that
// the first instance can answer it.
int ReplySocket() {
  const int fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (fd < 0)
    return -1;
  const sa_family_t family = AF_UNIX;
  if (::bind(fd, reinterpret_cast<const sockaddr*>(&family), sizeof family) != 0) {
    ::close(fd);
    return -1;
  }
  return fd;
}

enum class TSendResult { Sent, NotListening, TooLarge };

// Sends to the socket at path when it is the user's own. Once connected, the
// reply socket hears nobody but the first instance.
TSendResult SendTo(int fd, const std::string& path, const std::string& message) {
  struct stat info {};
  sockaddr_un address;
  socklen_t length;
  if (::lstat(path.c_str(), &info) != 0 || !S_ISSOCK(info.st_mode) || info.st_uid != ::geteuid() ||
      !PathAddress(path, address, length) ||
      ::connect(fd, reinterpret_cast<const sockaddr*>(&address), length) != 0)
    return TSendResult::NotListening;
  if (::send(fd, message.data(), message.size(), MSG_DONTWAIT | MSG_NOSIGNAL) ==
      static_cast<ssize_t>(message.size()))
    return TSendResult::Sent;
  return errno == EMSGSIZE || errno == ENOBUFS ? TSendResult::TooLarge : TSendResult::NotListening;
}

// The first instance's answer within the time given; 0 when none came.
char WaitForReply(int fd, std::chrono::milliseconds time) {
  pollfd ready{fd, POLLIN, 0};
  char reply = 0;
  if (::poll(&ready, 1, static_cast<int>(time.count())) > 0 &&
      ::recv(fd, &reply, 1, MSG_DONTWAIT) == 1)
    return reply;
  return 0;
}

void Signal(int eventFd) {
  const uint64_t one = 1;
  (void)!::write(eventFd, &one, sizeof one);
}

void Drain(int eventFd) {
  uint64_t count = 0;
  (void)!::read(eventFd, &count, sizeof count);
}

// The sender's credentials; descriptors it attached are closed at once.
const ucred* SenderOf(msghdr& message) {
  const ucred* credentials = nullptr;
  for (cmsghdr* part = CMSG_FIRSTHDR(&message); part != nullptr;
       part = CMSG_NXTHDR(&message, part)) {
    if (part->cmsg_level != SOL_SOCKET)
      continue;
    if (part->cmsg_type == SCM_CREDENTIALS && part->cmsg_len >= CMSG_LEN(sizeof(ucred)))
      credentials = reinterpret_cast<const ucred*>(CMSG_DATA(part));
    if (part->cmsg_type == SCM_RIGHTS) {
      const std::size_t count = (part->cmsg_len - CMSG_LEN(0)) / sizeof(int);
      for (std::size_t i = 0; i < count; ++i) {
        int fd;
        std::memcpy(&fd, CMSG_DATA(part) + i * sizeof(int), sizeof fd);
        ::close(fd);
      }
    }
  }
  return credentials;
}

} // namespace

TOneInstance::TOneInstance(std::string scope, std::string folder)
    : FScope(std::move(scope)), FFolder(std::move(folder)) {
  if (LiveComponent != nullptr)
    throw EOneInstanceError(DuplicateText);
  FNotice = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
  FStop = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
  LiveComponent = this;
}

TOneInstance::~TOneInstance() {
  GiveUpPlace();
  for (int fd : {FLock, FNotice, FStop})
    if (fd >= 0)
      ::close(fd);
  LiveComponent = nullptr;
}

std::string TOneInstance::ScopeFor(const std::string& display, const std::string& settingsFolder) {
  // FNV-1a: a short name that fits a socket address, the same in every copy.
  uint64_t hash = 14695981039346656037ull;
  const std::string key = display + '\0' + settingsFolder;
  for (const unsigned char c : key)
    hash = (hash ^ c) * 1099511628211ull;
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string name = "pelrow-";
  for (int shift = 60; shift >= 0; shift -= 4)
    name += kDigits[(hash >> shift) & 0xF];
  return name;
}

std::string TOneInstance::DefaultFolder() {
  return PrivateRuntimeFolder();
}

bool TOneInstance::CheckInstance(const std::vector<std::string>& params,
                                 const std::string& activationToken) {
  FState = TState::Independent;
  if (FFolder.empty() || FNotice < 0 || FStop < 0)
    return false;
  FLock = OpenPrivateLockFile(LockPath());
  if (FLock < 0)
    return false;
  if (TakeLock()) {
    FState = TState::First;
    return true;
  }
  switch (HandOver(EncodeHandOver({params, activationToken}))) {
  case TOutcome::HandedOver:
    FState = TState::HandedOver;
    break;
  case TOutcome::BecameFirst:
    FState = TState::First;
    break;
  case TOutcome::OnItsOwn:
    break;
  }
  return IsFirstInstance();
}

bool TOneInstance::TakeLock() {
  FLocked = FLock >= 0 && ::flock(FLock, LOCK_EX | LOCK_NB) == 0;
  return FLocked;
}

TOneInstance::TOutcome TOneInstance::HandOver(const std::string& message) {
  if (message.size() > MaxHandOverBytes)
    return TOutcome::OnItsOwn;
  const int reply = ReplySocket();
  if (reply < 0)
    return TOutcome::OnItsOwn;
  // The system's default room for one datagram is smaller than a long command line.
  const int room = static_cast<int>(message.size() + 4096);
  ::setsockopt(reply, SOL_SOCKET, SO_SNDBUF, &room, sizeof room);
  TOutcome outcome = TOutcome::OnItsOwn;
  bool sent = false;
  const auto deadline = std::chrono::steady_clock::now() + HandOverTimeout;
  while (std::chrono::steady_clock::now() < deadline) {
    if (!sent) {
      const TSendResult result = SendTo(reply, SocketPath(), message);
      if (result == TSendResult::TooLarge)
        break;
      sent = result == TSendResult::Sent;
    }
    if (sent) {
      const char answer = WaitForReply(reply, RetryStep);
      if (answer == ReplyTaken || answer == ReplyNotTaken) {
        outcome = answer == ReplyTaken ? TOutcome::HandedOver : TOutcome::OnItsOwn;
        break;
      }
    } else {
      std::this_thread::sleep_for(RetryStep);
    }
    // The first instance ended or gave its place up: this start takes it, unless
    // an answer came just before.
    if (TakeLock()) {
      const bool taken = sent && WaitForReply(reply, std::chrono::milliseconds(0)) == ReplyTaken;
      if (taken)
        GiveUpPlace();
      outcome = taken ? TOutcome::HandedOver : TOutcome::BecameFirst;
      break;
    }
  }
  ::close(reply);
  return outcome;
}

void TOneInstance::SetActive(bool active) {
  FActive = active;
  if (!active) {
    GiveUpPlace();
    if (FState == TState::First)
      FState = TState::Independent;
    return;
  }
  if (FState != TState::First && FState != TState::Independent)
    return;
  if (FSocket < 0 && (FLocked || TakeLock()) && StartListening())
    FState = TState::First;
}

bool TOneInstance::StartListening() {
  // With the lock held, a socket file here is a dead first instance's.
  ::unlink(SocketPath().c_str());
  sockaddr_un address;
  socklen_t length;
  const int fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  const int on = 1;
  if (fd < 0 || !PathAddress(SocketPath(), address, length) ||
      ::setsockopt(fd, SOL_SOCKET, SO_PASSCRED, &on, sizeof on) != 0 ||
      ::bind(fd, reinterpret_cast<const sockaddr*>(&address), length) != 0) {
    if (fd >= 0)
      ::close(fd);
    // Holding the place without listening would only make later starts wait.
    GiveUpPlace();
    return false;
  }
  ::chmod(SocketPath().c_str(), 0600);
  FSocket = fd;
  Drain(FStop);
  FListener = std::thread([this, fd] { Listen(fd); });
  return true;
}

void TOneInstance::GiveUpPlace() {
  if (FListener.joinable()) {
    Signal(FStop);
    FListener.join();
  }
  if (FSocket >= 0) {
    // Removed while the lock is still held, so it never removes a successor's.
    ::unlink(SocketPath().c_str());
    ::close(FSocket);
    FSocket = -1;
  }
  if (FLocked) {
    ::flock(FLock, LOCK_UN);
    FLocked = false;
  }
}

// Runs on a thread of its own, so that a start is answered at once even while
// the window is busy or waits for a click.
void TOneInstance::Listen(int socket) {
  std::vector<char> buffer(MaxHandOverBytes);
  for (;;) {
    pollfd ready[2] = {{socket, POLLIN, 0}, {FStop, POLLIN, 0}};
    if (::poll(ready, 2, -1) < 0) {
      if (errno == EINTR)
        continue;
      return;
    }
    if (ready[1].revents != 0)
      return;
    if (ready[0].revents != 0)
      ReceiveOne(socket, buffer);
  }
}

void TOneInstance::ReceiveOne(int socket, std::vector<char>& buffer) {
  sockaddr_un sender{};
  iovec data{buffer.data(), buffer.size()};
  alignas(cmsghdr) char control[ControlRoom];
  msghdr message{};
  message.msg_name = &sender;
  message.msg_namelen = sizeof sender;
  message.msg_iov = &data;
  message.msg_iovlen = 1;
  message.msg_control = control;
  message.msg_controllen = sizeof control;
  const ssize_t got = ::recvmsg(socket, &message, MSG_DONTWAIT | MSG_CMSG_CLOEXEC);
  if (got < 0)
    return;
  // Other users are not heard at all: no answer, no window raised.
  const ucred* credentials = SenderOf(message);
  if (credentials == nullptr || credentials->uid != ::getuid())
    return;
  THandOver handOver;
  const bool whole = (message.msg_flags & (MSG_TRUNC | MSG_CTRUNC)) == 0;
  const bool taken =
      whole && FActive && DecodeHandOver({buffer.data(), static_cast<std::size_t>(got)}, handOver);
  // Answered before the window hears of it: the start ends now, whatever the
  // window then does with the parameters.
  const char answer = taken ? ReplyTaken : ReplyNotTaken;
  if (message.msg_namelen > offsetof(sockaddr_un, sun_path))
    ::sendto(socket, &answer, 1, MSG_DONTWAIT | MSG_NOSIGNAL,
             reinterpret_cast<const sockaddr*>(&sender), message.msg_namelen);
  if (!taken)
    return;
  {
    std::lock_guard<std::mutex> hold(FQueueLock);
    FQueue.push_back(std::move(handOver));
  }
  Signal(FNotice);
}

void TOneInstance::ReceiveHandOver() {
  Drain(FNotice);
  for (;;) {
    THandOver next;
    {
      std::lock_guard<std::mutex> hold(FQueueLock);
      if (FQueue.empty())
        return;
      next = std::move(FQueue.front());
      FQueue.pop_front();
    }
    try {
      DoInstanceStarted(next);
    } catch (...) {
      // The ones still waiting are not forgotten.
      Signal(FNotice);
      throw;
    }
  }
}

void TOneInstance::DoInstanceStarted(const THandOver& handOver) {
  if (FShowOnNewInstance && OnBringToFront)
    OnBringToFront(*this, handOver.ActivationToken);
  if (OnInstanceStarted)
    OnInstanceStarted(*this, handOver.Params);
}

} // namespace pelrow
