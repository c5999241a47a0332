// Single-instance coordination over POSIX shared memory, a named semaphore and
// an abstract-namespace datagram socket.
#include "support/one_instance.h"

#include "support/general_utils.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <poll.h>
#include <semaphore.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace pelrow {

namespace {

// Layout of the shared block.
constexpr std::size_t OffsetFirstPid = 0;
constexpr std::size_t OffsetActive = 4;
constexpr std::size_t OffsetShow = 5;
constexpr std::size_t OffsetCount = 6;
constexpr std::size_t OffsetSlots = 10;
constexpr std::size_t SlotSize = TOneInstance::MaxParamLength + 1;

// Datagrams: a start asks whether anybody listens, parameters wait in the block,
// the first instance has read them.
constexpr char MessagePing = 'P';
constexpr char MessageHandOver = 'H';
constexpr char MessageDone = 'D';

// Waiting happens in short steps so that a first instance that died meanwhile is
// noticed at once instead of after the whole timeout.
constexpr auto WaitStep = std::chrono::milliseconds(50);

TOneInstance* LiveComponent = nullptr;

int32_t GetInt32(const unsigned char* p) {
  return static_cast<int32_t>(uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 |
                              uint32_t(p[3]) << 24);
}

void PutInt32(unsigned char* p, int32_t value) {
  const auto v = static_cast<uint32_t>(value);
  for (int i = 0; i < 4; ++i)
    p[i] = static_cast<unsigned char>(v >> (8 * i));
}

bool ProcessAlive(int32_t pid) {
  return pid > 0 && (::kill(pid, 0) == 0 || errno == EPERM);
}

// Abstract socket addresses vanish with their process: no file is ever left behind.
sockaddr_un AbstractAddress(const std::string& name, socklen_t& length) {
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  const std::size_t room = sizeof(address.sun_path) - 1;
  const std::size_t used = std::min(name.size(), room);
  std::memcpy(address.sun_path + 1, name.data(), used);
  length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + used);
  return address;
}

std::string SocketName(const std::string& name, int32_t pid) {
  return name + ".first." + std::to_string(pid);
}

int BoundDatagramSocket(const std::string& name) {
  const int fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (fd < 0)
    return -1;
  socklen_t length;
  const sockaddr_un address = AbstractAddress(name, length);
  if (::bind(fd, reinterpret_cast<const sockaddr*>(&address), length) != 0) {
    ::close(fd);
    return -1;
  }
  return fd;
}

sem_t* AsSemaphore(void* handle) {
  return static_cast<sem_t*>(handle);
}

} // namespace

// The shared block mapped for the length of one step, as the steps need it.
class TOneInstance::TMappedBlock {
public:
  explicit TMappedBlock(int fd) {
    if (fd < 0)
      return;
    void* view = ::mmap(nullptr, BlockSize, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    if (view != MAP_FAILED)
      FBytes = static_cast<unsigned char*>(view);
  }
  ~TMappedBlock() {
    if (FBytes != nullptr)
      ::munmap(FBytes, BlockSize);
  }
  TMappedBlock(const TMappedBlock&) = delete;
  TMappedBlock& operator=(const TMappedBlock&) = delete;
  unsigned char* Bytes() const { return FBytes; }

private:
  unsigned char* FBytes = nullptr;
};

TOneInstance::TOneInstance(std::string name) : FName(std::move(name)) {
  if (LiveComponent != nullptr)
    throw EOneInstanceError(DuplicateText);
  LiveComponent = this;
}

TOneInstance::~TOneInstance() {
  if (FState == TState::First) {
    // Leave nothing behind that would make the next start wait for us.
    TMappedBlock block(FBlockFd);
    if (block.Bytes() != nullptr && GetInt32(block.Bytes() + OffsetFirstPid) == ::getpid()) {
      ::shm_unlink(("/" + FName).c_str());
      ::sem_unlink(("/" + FName + "Sem").c_str());
    }
  }
  for (int fd : {FSocket, FReplySocket, FBlockFd})
    if (fd >= 0)
      ::close(fd);
  if (FSemaphore != nullptr)
    ::sem_close(AsSemaphore(FSemaphore));
  LiveComponent = nullptr;
}

std::string TOneInstance::NameFor(const std::string& programPath) {
  // Shared-object names hold no slash and are limited in length.
  std::string file = FileNameOf(programPath).substr(0, 80);
  std::replace(file.begin(), file.end(), '/', '_');
  return file + "-" + std::to_string(::getuid());
}

bool TOneInstance::CheckInstance(const std::vector<std::string>& params) {
  FState = TState::Independent;
  const std::string blockName = "/" + FName;
  bool existed = false;
  FBlockFd = ::shm_open(blockName.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
  if (FBlockFd < 0 && errno == EEXIST) {
    existed = true;
    FBlockFd = ::shm_open(blockName.c_str(), O_RDWR | O_CLOEXEC, 0600);
  }
  if (FBlockFd < 0)
    return false;
  // A new block is sized here; one found too small (its creator may be a moment
  // behind) is grown, as a read past its end would kill the process.
  struct stat info {};
  if (::fstat(FBlockFd, &info) != 0 ||
      (info.st_size < static_cast<off_t>(BlockSize) && ::ftruncate(FBlockFd, BlockSize) != 0))
    return false;
  TMappedBlock block(FBlockFd);
  if (block.Bytes() == nullptr)
    return false;

  if (existed) {
    FActive = block.Bytes()[OffsetActive] != 0;
    if (FActive && !HandOver(block, params))
      RegisterAsFirst(block);
  } else {
    block.Bytes()[OffsetActive] = FActive ? 1 : 0;
    block.Bytes()[OffsetShow] = FShowOnNewInstance ? 1 : 0;
    RegisterAsFirst(block);
  }
  return IsFirstInstance();
}

void TOneInstance::RegisterAsFirst(TMappedBlock& block) {
  FSocket = BoundDatagramSocket(SocketName(FName, ::getpid()));
  if (FSocket < 0) {
    FState = TState::Independent;
    return;
  }
  // A fresh semaphore: one left by a copy that died while holding it would
  // otherwise block every later start for the whole timeout.
  if (FSemaphore != nullptr)
    ::sem_close(AsSemaphore(FSemaphore));
  const std::string semaphoreName = "/" + FName + "Sem";
  ::sem_unlink(semaphoreName.c_str());
  sem_t* semaphore = ::sem_open(semaphoreName.c_str(), O_CREAT, 0600, 1);
  FSemaphore = semaphore == SEM_FAILED ? nullptr : semaphore;
  PutInt32(block.Bytes() + OffsetFirstPid, ::getpid());
  FState = TState::First;
}

bool TOneInstance::HandOver(TMappedBlock& block, const std::vector<std::string>& params) {
  const int32_t firstPid = GetInt32(block.Bytes() + OffsetFirstPid);
  // Nobody listening: the first instance is gone, take over without waiting.
  if (!ProcessAlive(firstPid) || !OpenReplySocket() || !SendTo(firstPid, MessagePing))
    return false;
  if (!AcquireTurn(firstPid))
    return false;

  const std::size_t count = std::min(params.size(), MaxParams);
  PutInt32(block.Bytes() + OffsetCount, static_cast<int32_t>(count));
  for (std::size_t i = 0; i < count; ++i) {
    unsigned char* slot = block.Bytes() + OffsetSlots + SlotSize * i;
    const std::size_t length = std::min(params[i].size(), MaxParamLength);
    std::memcpy(slot, params[i].data(), length);
    slot[length] = 0;
  }
  const bool answered = SendTo(firstPid, MessageHandOver) && WaitForReply(firstPid);
  ReleaseTurn();
  if (!answered)
    return false;
  FState = TState::HandedOver;
  return true;
}

bool TOneInstance::OpenReplySocket() {
  FReplySocket = BoundDatagramSocket(FName + ".start." + std::to_string(::getpid()));
  return FReplySocket >= 0;
}

bool TOneInstance::SendTo(int32_t pid, char message) {
  socklen_t length;
  const sockaddr_un address = AbstractAddress(SocketName(FName, pid), length);
  return ::sendto(FReplySocket, &message, 1, MSG_NOSIGNAL,
                  reinterpret_cast<const sockaddr*>(&address), length) == 1;
}

bool TOneInstance::WaitForReply(int32_t firstPid) {
  const auto deadline = std::chrono::steady_clock::now() + AcquireTimeout;
  while (std::chrono::steady_clock::now() < deadline && ProcessAlive(firstPid)) {
    pollfd ready{FReplySocket, POLLIN, 0};
    if (::poll(&ready, 1, static_cast<int>(WaitStep.count())) > 0) {
      char message = 0;
      if (::recv(FReplySocket, &message, 1, 0) == 1 && message == MessageDone)
        return true;
    }
  }
  return false;
}

bool TOneInstance::AcquireTurn(int32_t firstPid) {
  const std::string semaphoreName = "/" + FName + "Sem";
  sem_t* semaphore = ::sem_open(semaphoreName.c_str(), 0);
  if (semaphore == SEM_FAILED)
    return false;
  FSemaphore = semaphore;
  const auto deadline = std::chrono::steady_clock::now() + AcquireTimeout;
  while (std::chrono::steady_clock::now() < deadline && ProcessAlive(firstPid)) {
    timespec until{};
    ::clock_gettime(CLOCK_REALTIME, &until);
    until.tv_nsec += std::chrono::nanoseconds(WaitStep).count();
    until.tv_sec += until.tv_nsec / 1'000'000'000;
    until.tv_nsec %= 1'000'000'000;
    if (::sem_timedwait(semaphore, &until) == 0)
      return true;
  }
  return false;
}

void TOneInstance::ReleaseTurn() {
  if (FSemaphore != nullptr)
    ::sem_post(AsSemaphore(FSemaphore));
}

void TOneInstance::ReceiveHandOver() {
  if (FSocket < 0)
    return;
  char message = 0;
  sockaddr_un sender{};
  socklen_t senderLength = sizeof sender;
  while (::recvfrom(FSocket, &message, 1, 0, reinterpret_cast<sockaddr*>(&sender), &senderLength) ==
         1) {
    if (message == MessageHandOver) {
      std::vector<std::string> params;
      {
        TMappedBlock block(FBlockFd);
        if (block.Bytes() != nullptr) {
          const int32_t count = std::clamp<int32_t>(GetInt32(block.Bytes() + OffsetCount), 0,
                                                    static_cast<int32_t>(MaxParams));
          for (int32_t i = 0; i < count; ++i) {
            const char* slot =
                reinterpret_cast<const char*>(block.Bytes() + OffsetSlots + SlotSize * i);
            params.emplace_back(slot, ::strnlen(slot, MaxParamLength));
          }
        }
      }
      // The waiting start is answered whatever the handler does with the list.
      try {
        DoInstanceStarted(params);
      } catch (...) {
        ::sendto(FSocket, &MessageDone, 1, MSG_NOSIGNAL, reinterpret_cast<sockaddr*>(&sender),
                 senderLength);
        throw;
      }
      ::sendto(FSocket, &MessageDone, 1, MSG_NOSIGNAL, reinterpret_cast<sockaddr*>(&sender),
               senderLength);
    }
    senderLength = sizeof sender;
  }
}

void TOneInstance::DoInstanceStarted(const std::vector<std::string>& params) {
  if (FShowOnNewInstance && OnBringToFront)
    OnBringToFront(*this);
  if (OnInstanceStarted)
    OnInstanceStarted(*this, params);
}

void TOneInstance::WriteFlag(std::size_t offset, bool value) {
  TMappedBlock block(FBlockFd);
  if (block.Bytes() != nullptr)
    block.Bytes()[offset] = value ? 1 : 0;
}

void TOneInstance::SetActive(bool active) {
  FActive = active;
  WriteFlag(OffsetActive, active);
}

void TOneInstance::SetShowOnNewInstance(bool show) {
  FShowOnNewInstance = show;
  WriteFlag(OffsetShow, show);
}

} // namespace pelrow
