// What the JACK client's service thread watches: the server's life, a client the
// server dropped, and connections that went away or came back.
#include "midi/service/jack/jack_helpers.h"

#include "midi/service/midi_input_stream.h"
#include "midi/service/midi_service.h"
#include "support/clock.h"
#include "support/trace.h"

#include <chrono>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

namespace pelrow {

namespace {
// How long, of our own running time, the server's clock may go on while it runs
// none of our cycles before our client counts as dropped; a check later than
// DropWatchGap after the one before means we were held up ourselves.
constexpr auto DropLimit = std::chrono::seconds(2);
constexpr auto DropWatchGap = std::chrono::milliseconds(500);

// The scheduler's state of one of our threads ('S' sleeping, 'R' running or
// waiting for a CPU, 't'/'T' stopped, ...); 0 when it cannot be read.
char ThreadState(pid_t thread) {
  std::ifstream in("/proc/self/task/" + std::to_string(thread) + "/stat");
  std::string stat;
  std::getline(in, stat);
  // The thread's name, in parentheses, may hold anything: the state follows the last one.
  const size_t end = stat.rfind(')');
  return end == std::string::npos || end + 2 >= stat.size() ? 0 : stat[end + 2];
}
} // namespace

// Service thread: the server's state as the callbacks and the cycle count tell it.
void TJackClient::CheckServer() {
  if (FShutDown.load() && FAlive.exchange(false)) {
    Trace("JACK: the server shut us down");
    ServerGone(JackErrServerGone);
    NotifyPortsChanged();
  }
  if (!FAlive.load())
    return;
  const auto now = std::chrono::steady_clock::now();
  const uint64_t cycles = FCycles.load();
  if (WatchForDrop(now, cycles != FCyclesSeen)) {
    Trace("JACK: the server runs its cycles without ours: it has dropped our client");
    FDropped = true;
    FAlive = false;
    ServerGone(JackErrClientDropped);
    NotifyPortsChanged();
    return;
  }
  if (cycles != FCyclesSeen) {
    FCyclesSeen = cycles;
    FLastProgress = now;
    if (!FResponding.load() && FStuckCalls.load() == 0) {
      // Ports left over from the stall go before anything can be opened anew.
      FinishClosedPorts();
      FResponding = true;
      Trace("JACK: the server answers again");
      NotifyPortsChanged();
    }
  } else if (now - FLastProgress > NoCyclesLimit) {
    NotResponding("no cycles");
  }
  if (const uint32_t xruns = FXruns.load(std::memory_order_relaxed); xruns != FXrunsSeen) {
    Trace("JACK: " + std::to_string(xruns - FXrunsSeen) + " xrun(s)");
    FXrunsSeen = xruns;
  }
  if (FPortRegistered.exchange(false))
    ReconnectReturnedPeers();
  if (FConnectionLost.exchange(false)) {
    FRecheckLoops = RecheckLoops;
    // The other end may have gone with its whole client, which JACK does not
    // always announce as ports going: the lists are read again.
    NotifyPortsChanged();
  }
  // The connection counts we read change only with the graph's next cycle, which
  // may come late on a busy machine: they are read again for a while.
  if (FRecheckLoops > 0) {
    --FRecheckLoops;
    NoticeLostConnections();
  }
  if (FConnectionMade.exchange(false))
    ResumeConnectedOutputs();
}

// Service thread. An async server may give up on a client that did not keep up
// (one that was stopped, say) and, without telling it, run its cycles without
// ours from then on. Its clock going on for DropLimit of our own running time
// while our cycles stand still tells that from a server that stopped (its clock
// stands still too). A hold-up of ours is no drop: a late check (the whole
// program was held) or a process thread that is not waiting for the server
// (held in our callback, stopped by a debugger, denied a CPU) starts the watch anew.
bool TJackClient::WatchForDrop(std::chrono::steady_clock::time_point now, bool ourCyclesMoved) {
  const bool lateCheck = now - FLastCheck > DropWatchGap;
  FLastCheck = now;
  const jack_nframes_t frame = jack_last_frame_time(FClient);
  if (ourCyclesMoved || lateCheck || !ProcessThreadWaitsForServer()) {
    FDropWatchStart = now;
    FDropWatchFrame = frame;
    return false;
  }
  // The server's clock moves in whole periods: half the watch is enough.
  const uint64_t framesInLimit =
      uint64_t(FSampleRate) *
      std::chrono::duration_cast<std::chrono::milliseconds>(DropLimit).count() / 1000;
  return now - FDropWatchStart >= DropLimit &&
         uint64_t(frame - FDropWatchFrame) >= framesInLimit / 2;
}

// Outside our callback and asleep: the thread waits for the server to run our
// next cycle. Before our first cycle it cannot be told; the server is trusted then.
bool TJackClient::ProcessThreadWaitsForServer() const {
  const pid_t thread = FProcessThread.load(std::memory_order_relaxed);
  if (thread == 0)
    return true;
  const char state = ThreadState(thread);
  return !FInCycle.load() && (state == 'S' || state == 0);
}

// The inputs get what had arrived, then word that nothing more will. A dropped
// client missed the cycles the server ran since our last one: input may be
// missing at the end of what arrived.
void TJackClient::ServerGone(uint32_t failure) {
  DrainInput(true);
  std::lock_guard lock(FSlotLock);
  const uint32_t now = TimeGetTime();
  for (auto& slot : FIn) {
    if (slot.Stream == nullptr)
      continue;
    if (failure == JackErrClientDropped)
      slot.Stream->FeedInterrupted(now);
    slot.Stream->FeedFailed(failure, now);
  }
}

uint64_t TJackClient::RunMs() const {
  return FSampleRate == 0 ? 0 : FFramesRun.load(std::memory_order_relaxed) * 1000 / FSampleRate;
}

void TJackClient::NoticeLostConnections() {
  std::lock_guard lock(FSlotLock);
  for (auto& slot : FIn) {
    jack_port_t* port = slot.Port.load();
    if (slot.Stream == nullptr || port == nullptr)
      continue;
    const bool unplugged = jack_port_connected(port) == 0;
    if (unplugged && !slot.Unplugged) {
      DrainSlot(slot, true); // what came before the unplugging goes first
      slot.Stream->FeedDisconnected(TimeGetTime());
    }
    slot.Unplugged = unplugged;
  }
  for (auto& slot : FOut) {
    jack_port_t* port = slot.Port.load();
    if (port != nullptr && jack_port_connected(port) == 0 && !slot.Disconnected.exchange(true))
      Trace("JACK: an output lost its connection");
  }
}

// Service thread: a synth that rebooted (or a program that restarted) registers its
// port again under the same name; a port of ours that lost its connection while
// some port went away gets connected to the port of that name, so that the device
// the user chose keeps working. JACK hands a re-registered port its old id, so the
// count of vanished ports tells a return from a patchbay's disconnect, which is
// left alone unless ports came and went since.
void TJackClient::ReconnectReturnedPeers() {
  struct TPending {
    TJackPortSlot* Slot;
    std::string Source;
    std::string Destination;
  };
  std::vector<TPending> pending;
  const uint64_t gone = FPortsGone.load();
  {
    std::lock_guard lock(FSlotLock);
    const auto consider = [&](TJackPortSlot& slot, bool input) {
      jack_port_t* own = slot.Port.load();
      if (!slot.Used || own == nullptr || slot.Peer.empty() || slot.PortsGoneAtConnect == gone ||
          jack_port_connected(own) != 0 || jack_port_by_name(FClient, slot.Peer.c_str()) == nullptr)
        return;
      const std::string ownName = jack_port_name(own);
      pending.push_back({&slot, input ? slot.Peer : ownName, input ? ownName : slot.Peer});
    };
    for (auto& slot : FIn)
      consider(slot, true);
    for (auto& slot : FOut)
      consider(slot, false);
  }
  for (const TPending& item : pending) {
    const int result = Connect(item.Source, item.Destination);
    Trace("JACK: " + item.Source + " -> " + item.Destination +
          " came back; reconnecting: " + std::to_string(result));
    if (result != 0 && result != EEXIST) {
      if (!Usable())
        FPortRegistered = true; // tried again once the server answers
      continue;
    }
    std::lock_guard lock(FSlotLock);
    if (item.Slot->Used && item.Slot->Port.load() != nullptr)
      item.Slot->PortsGoneAtConnect = gone;
  }
  ResumeConnectedOutputs();
}

// Outputs that lost their connection and have one again (we made it, or a
// patchbay did) take data again once the connection carries it.
void TJackClient::ResumeConnectedOutputs() {
  std::vector<TJackOutSlot*> resumed;
  for (auto& slot : FOut) {
    jack_port_t* own = slot.Port.load();
    if (own != nullptr && slot.Disconnected.load() && jack_port_connected(own) > 0)
      resumed.push_back(&slot);
  }
  if (resumed.empty())
    return;
  WaitUntilConnected();
  for (TJackOutSlot* slot : resumed)
    slot->Disconnected = false;
}

// Service thread, once the server answers again: the ports whose close it did not
// answer are unregistered (unless the call made then has done it meanwhile).
void TJackClient::FinishClosedPorts() {
  std::vector<TJackPortSlot*> closing;
  {
    std::lock_guard lock(FSlotLock);
    for (auto& slot : FIn)
      if (slot.Closing.load() != nullptr)
        closing.push_back(&slot);
    for (auto& slot : FOut)
      if (slot.Closing.load() != nullptr)
        closing.push_back(&slot);
  }
  for (TJackPortSlot* slot : closing) {
    jack_port_t* port = slot->Closing.load();
    bool sent = false;
    {
      std::lock_guard lock(FSlotLock);
      sent = std::exchange(slot->UnregisterSent, true);
    }
    if (!sent) {
      intptr_t result = 0;
      jack_client_t* handle = FClient;
      if (!CallServer([handle, port] { return intptr_t(jack_port_unregister(handle, port)); },
                      result))
        continue; // it finishes when the server answers; the slot is freed then
    }
    Trace("JACK: a port closed while the server did not answer is unregistered now");
    WaitForCycleEnd();
    std::lock_guard lock(FSlotLock);
    FreeSlot(*slot);
  }
}

} // namespace pelrow
