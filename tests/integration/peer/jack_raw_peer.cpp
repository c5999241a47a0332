// A separate JACK client that plays the far side of a MIDI cable and sees MIDI the
// way JACK carries it: one event at a time, nothing reassembled. It records every
// event it receives as it came, so a test can check what each event held, and it
// writes whole messages as events, as many per period as the port takes.
//
// Driven line by line over stdin; each command gets one line on stdout:
//   open_out NAME          register an output port (client "pelrow-peer-NAME")
//   open_in NAME           register an input port that records every event
//   open_audio NAME        register an audio output port (a port MIDI cannot use)
//   open_slow NAME MS      a client that sleeps MS ms in every 16th cycle: a
//                          server that does not wait for it reports xruns
//   close NAME             remove that port and its client
//   send NAME HEX          write the bytes ("90 3C 40 3E 40") as one event, as they are
//   send_file NAME PATH    write a file's MIDI byte stream: one event per message, a
//                          SysEx larger than the port's largest event in pieces
//   count NAME             bytes recorded on input NAME so far
//   save NAME PATH         write the recorded bytes to PATH and forget them
//   events NAME PATH       as save, each event as [uint32 size][bytes]
//   unplug NAME            remove every connection of port NAME, as a patchbay does
//   stall NAME MS          the port's next process callback takes MS ms, so the
//                          server reports an xrun
//   ports CLIENT           the MIDI ports of another client, "ok NAME NAME ..."
//   connections NAME       how many connections port NAME has
//   quit
// Replies are "ok ..." or "error ...". The server is chosen by JACK_DEFAULT_SERVER.
#include <jack/jack.h>
#include <jack/midiport.h>
#include <jack/ringbuffer.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <iterator>
#include <map>
#include <memory>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

constexpr const char* ClientPrefix = "pelrow-peer-";
constexpr size_t RingBytes = size_t(8) << 20;

class TPort {
public:
  enum class TKind { In, Out, Audio, Slow };

  TPort(const std::string& name, TKind kind, int slowMs = 0) : FKind(kind), FSlowMs(slowMs) {
    jack_status_t status{};
    FClient = jack_client_open((ClientPrefix + name).c_str(), JackNoStartServer, &status);
    if (FClient == nullptr)
      throw std::runtime_error("no JACK client");
    const char* type = kind == TKind::Audio ? JACK_DEFAULT_AUDIO_TYPE : JACK_DEFAULT_MIDI_TYPE;
    FPort = jack_port_register(FClient, name.c_str(), type,
                               kind == TKind::In ? JackPortIsInput : JackPortIsOutput, 0);
    if (FPort == nullptr)
      throw std::runtime_error("no JACK port");
    FRing = jack_ringbuffer_create(RingBytes);
    jack_set_process_callback(
        FClient, [](jack_nframes_t n, void* arg) { return static_cast<TPort*>(arg)->Process(n); },
        this);
    if (jack_activate(FClient) != 0)
      throw std::runtime_error("not activated");
    if (kind == TKind::In)
      FDrain = std::thread([this] { Drain(); });
  }

  ~TPort() {
    FQuit = true;
    if (FDrain.joinable())
      FDrain.join();
    jack_deactivate(FClient);
    jack_client_close(FClient);
    jack_ringbuffer_free(FRing);
  }

  jack_client_t* Client() const { return FClient; }

  // Queues one event; waits while the ring is full.
  void Write(const uint8_t* data, uint32_t size) {
    while (jack_ringbuffer_write_space(FRing) < sizeof size + size)
      std::this_thread::sleep_for(std::chrono::microseconds(500));
    jack_ringbuffer_write(FRing, reinterpret_cast<const char*>(&size), sizeof size);
    jack_ringbuffer_write(FRing, reinterpret_cast<const char*>(data), size);
  }

  // Waits until everything queued was written into a period that is over.
  void WaitUntilWritten() {
    while (jack_ringbuffer_read_space(FRing) > 0)
      std::this_thread::sleep_for(std::chrono::microseconds(500));
    const uint64_t cycle = FCycles.load();
    while (FCycles.load() < cycle + 2)
      std::this_thread::sleep_for(std::chrono::microseconds(500));
  }

  uint32_t MaxEvent() {
    while (FMaxEvent.load() == 0)
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    return FMaxEvent.load();
  }

  size_t Count() {
    std::lock_guard lock(FLock);
    return FBytes.size();
  }

  void Take(std::vector<uint8_t>& bytes, std::vector<uint32_t>& sizes) {
    std::lock_guard lock(FLock);
    bytes.swap(FBytes);
    sizes.swap(FSizes);
    FBytes.clear();
    FSizes.clear();
  }

  uint64_t Lost() const { return FLost.load(); }

  void Stall(uint32_t ms) { FStallMs.store(ms); }

private:
  int Process(jack_nframes_t frames) {
    if (const uint32_t stall = FStallMs.exchange(0); stall > 0)
      std::this_thread::sleep_for(std::chrono::milliseconds(stall));
    if (FKind == TKind::In)
      Receive(frames);
    else if (FKind == TKind::Out)
      Send(frames);
    else if (FKind == TKind::Slow && FCycles.load() % 16 == 0)
      std::this_thread::sleep_for(std::chrono::milliseconds(FSlowMs));
    FCycles.fetch_add(1);
    return 0;
  }

  void Receive(jack_nframes_t frames) {
    void* buffer = jack_port_get_buffer(FPort, frames);
    const uint32_t count = jack_midi_get_event_count(buffer);
    for (uint32_t i = 0; i < count; ++i) {
      jack_midi_event_t event;
      if (jack_midi_event_get(&event, buffer, i) != 0)
        continue;
      const uint32_t size = uint32_t(event.size);
      if (jack_ringbuffer_write_space(FRing) < sizeof size + size) {
        FLost.fetch_add(1);
        continue;
      }
      jack_ringbuffer_write(FRing, reinterpret_cast<const char*>(&size), sizeof size);
      jack_ringbuffer_write(FRing, reinterpret_cast<const char*>(event.buffer), size);
    }
  }

  void Send(jack_nframes_t frames) {
    void* buffer = jack_port_get_buffer(FPort, frames);
    jack_midi_clear_buffer(buffer);
    FMaxEvent.store(uint32_t(jack_midi_max_event_size(buffer)));
    uint32_t size = 0;
    while (jack_ringbuffer_peek(FRing, reinterpret_cast<char*>(&size), sizeof size) ==
               sizeof size &&
           jack_ringbuffer_read_space(FRing) >= sizeof size + size) {
      if (jack_midi_max_event_size(buffer) < size)
        break;
      jack_midi_data_t* target = jack_midi_event_reserve(buffer, 0, size);
      if (target == nullptr)
        break;
      jack_ringbuffer_read_advance(FRing, sizeof size);
      jack_ringbuffer_read(FRing, reinterpret_cast<char*>(target), size);
    }
  }

  void Drain() {
    std::vector<uint8_t> event;
    while (!FQuit.load()) {
      uint32_t size = 0;
      if (jack_ringbuffer_peek(FRing, reinterpret_cast<char*>(&size), sizeof size) != sizeof size ||
          jack_ringbuffer_read_space(FRing) < sizeof size + size) {
        std::this_thread::sleep_for(std::chrono::microseconds(500));
        continue;
      }
      jack_ringbuffer_read_advance(FRing, sizeof size);
      event.resize(size);
      jack_ringbuffer_read(FRing, reinterpret_cast<char*>(event.data()), size);
      std::lock_guard lock(FLock);
      FBytes.insert(FBytes.end(), event.begin(), event.end());
      FSizes.push_back(size);
    }
  }

  TKind FKind;
  int FSlowMs = 0;
  jack_client_t* FClient = nullptr;
  jack_port_t* FPort = nullptr;
  jack_ringbuffer_t* FRing = nullptr;
  std::atomic<uint64_t> FCycles{0};
  std::atomic<uint32_t> FMaxEvent{0};
  std::atomic<uint64_t> FLost{0};
  std::atomic<uint32_t> FStallMs{0};
  std::atomic<bool> FQuit{false};
  std::thread FDrain;
  std::mutex FLock;
  std::vector<uint8_t> FBytes;
  std::vector<uint32_t> FSizes;
};

// One event per message; a status byte other than F7 starts the next message. A
// message longer than an event, or than piece bytes when given, goes in pieces.
void SendStream(TPort& port, const std::vector<uint8_t>& data, uint32_t piece) {
  const uint32_t limit = piece > 0 ? std::min(piece, port.MaxEvent()) : port.MaxEvent();
  size_t start = 0;
  const auto flush = [&](size_t end) {
    for (size_t at = start; at < end; at += limit)
      port.Write(data.data() + at, uint32_t(std::min<size_t>(limit, end - at)));
    start = end;
  };
  for (size_t i = 1; i < data.size(); ++i)
    if (data[i] >= 0x80 && data[i] != 0xF7)
      flush(i);
  flush(data.size());
  port.WaitUntilWritten();
}

std::vector<uint8_t> ParseHex(std::istringstream& words) {
  std::vector<uint8_t> bytes;
  std::string word;
  while (words >> word)
    bytes.push_back(uint8_t(std::stoul(word, nullptr, 16)));
  return bytes;
}

std::string Run(std::map<std::string, std::unique_ptr<TPort>>& ports, const std::string& line) {
  std::istringstream words(line);
  std::string command, name;
  words >> command >> name;
  const auto find = [&]() -> TPort& {
    const auto it = ports.find(name);
    if (it == ports.end())
      throw std::runtime_error("no port " + name);
    return *it->second;
  };
  if (command == "open_out" || command == "open_in" || command == "open_audio") {
    const TPort::TKind kind = command == "open_in"    ? TPort::TKind::In
                              : command == "open_out" ? TPort::TKind::Out
                                                      : TPort::TKind::Audio;
    ports[name] = std::make_unique<TPort>(name, kind);
    return "ok";
  }
  if (command == "open_slow") {
    int ms = 0;
    words >> ms;
    ports[name] = std::make_unique<TPort>(name, TPort::TKind::Slow, ms);
    return "ok";
  }
  if (command == "close") {
    find();
    ports.erase(name);
    return "ok";
  }
  if (command == "send") {
    const std::vector<uint8_t> bytes = ParseHex(words);
    TPort& port = find();
    port.Write(bytes.data(), uint32_t(bytes.size()));
    port.WaitUntilWritten();
    return "ok";
  }
  if (command == "send_file") {
    std::string path;
    uint32_t piece = 0;
    words >> path >> piece;
    std::ifstream in(path, std::ios::binary);
    const std::vector<uint8_t> data{std::istreambuf_iterator<char>(in),
                                    std::istreambuf_iterator<char>()};
    SendStream(find(), data, piece);
    return "ok " + std::to_string(data.size());
  }
  if (command == "count")
    return "ok " + std::to_string(find().Count());
  if (command == "save" || command == "events") {
    std::string path;
    words >> path;
    std::vector<uint8_t> bytes;
    std::vector<uint32_t> sizes;
    TPort& port = find();
    port.Take(bytes, sizes);
    std::ofstream out(path, std::ios::binary);
    if (command == "save") {
      out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
    } else {
      size_t at = 0;
      for (uint32_t size : sizes) {
        out.write(reinterpret_cast<const char*>(&size), sizeof size);
        out.write(reinterpret_cast<const char*>(bytes.data() + at), size);
        at += size;
      }
    }
    if (port.Lost() > 0)
      return "error the peer lost " + std::to_string(port.Lost()) + " events";
    return "ok " + std::to_string(bytes.size());
  }
  if (command == "stall") {
    uint32_t ms = 0;
    words >> ms;
    find().Stall(ms);
    return "ok";
  }
  if (command == "unplug") {
    TPort& port = find();
    const std::string own = ClientPrefix + name + ":" + name;
    jack_port_t* handle = jack_port_by_name(port.Client(), own.c_str());
    const char** others = jack_port_get_all_connections(port.Client(), handle);
    int removed = 0;
    for (const char** other = others; other != nullptr && *other != nullptr; ++other)
      if (jack_disconnect(port.Client(), own.c_str(), *other) == 0 ||
          jack_disconnect(port.Client(), *other, own.c_str()) == 0)
        ++removed;
    jack_free(others);
    return "ok " + std::to_string(removed);
  }
  if (command == "connections") {
    TPort& port = find();
    const std::string own = ClientPrefix + name + ":" + name;
    return "ok " +
           std::to_string(jack_port_connected(jack_port_by_name(port.Client(), own.c_str())));
  }
  if (command == "ports") {
    if (ports.empty())
      return "error no client of our own to ask";
    const char** names = jack_get_ports(ports.begin()->second->Client(), ("^" + name + ":").c_str(),
                                        JACK_DEFAULT_MIDI_TYPE, 0);
    std::string reply = "ok";
    for (const char** port = names; port != nullptr && *port != nullptr; ++port)
      reply += std::string(" ") + *port;
    jack_free(names);
    return reply;
  }
  return "error unknown command " + command;
}

} // namespace

int main() {
  std::map<std::string, std::unique_ptr<TPort>> ports;
  std::string line;
  while (std::getline(std::cin, line)) {
    if (line.empty())
      continue;
    if (line == "quit") {
      std::cout << "ok" << std::endl;
      break;
    }
    std::string reply;
    try {
      reply = Run(ports, line);
    } catch (const std::exception& error) {
      reply = std::string("error ") + error.what();
    }
    std::cout << reply << std::endl;
  }
  ports.clear();
  return 0;
}
