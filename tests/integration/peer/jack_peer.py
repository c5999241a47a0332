"""A separate JACK client that plays the far side of a MIDI cable for Pelrow's
integration tests and benchmarks. It is driven line by line over stdin and
answers each command with one line on stdout:

  open_out NAME          register an output port (a new client "pelrow-peer-NAME")
  open_in NAME           register an input port that records every byte it receives
  close NAME             remove that port again
  send NAME HEX          send one event ("90 3C 40") from output NAME at once
  send_file NAME PATH    send a file's MIDI byte stream from output NAME, as fast as
                         JACK takes it without losing anything
  count NAME             number of bytes recorded on input NAME so far
  save NAME PATH         write the recorded bytes to PATH and forget them
  quit

Replies are "ok ..." or "error ...". The server is chosen by JACK_DEFAULT_SERVER.
"""
import sys
import threading

import rtmidi

CLIENT_PREFIX = "pelrow-peer-"
# rtmidi passes about 15 KB a period to JACK and writes everything
# it holds into the next period, dropping what does not fit. So the peer sends in
# bursts that fit one period and waits until a monitor port of its own has seen a
# burst before it sends the next one. An event costs its bytes plus JACK's header.
EVENT_COST = 12
BURST_COST = 12 * 1024
# rtmidi accepts messages above 3 bytes only when they start with F0, so a SysEx
# too large for one burst goes out as one head piece and 3-byte continuation pieces.
# The monitor sees such a message only once it is complete, so between its bursts
# the peer waits for a clock tick instead: a byte sent through a second client of
# its own comes back only after a period has taken everything queued before it.
# The clock's client runs beside the sending one, not after it, so a tick proves
# only that the period before it is over: two ticks, and small bursts, keep even an
# unlucky period well below what rtmidi passes on.
HEAD_BYTES = 4096
CONTINUATION_BYTES = 3
LARGE_BURST_COST = 4 * 1024
TICK = [0xFE]
MONITOR_TIMEOUT_S = 30.0


def messages(data):
    """Splits a MIDI byte stream at its status bytes (F7 ends the SysEx it is in)."""
    start = 0
    for index in range(1, len(data)):
        if data[index] >= 0x80 and data[index] != 0xF7:
            yield data[start:index]
            start = index
    if data:
        yield data[start:]


class Output:
    def __init__(self, name):
        self.client = CLIENT_PREFIX + name
        self.port = rtmidi.MidiOut(rtmidi.API_UNIX_JACK, self.client)
        self.port.open_virtual_port(name)
        self.sent = 0
        self.seen = 0
        self.seen_changed = threading.Condition()
        self.monitor = rtmidi.MidiIn(rtmidi.API_UNIX_JACK, self.client + "-monitor")
        self.monitor.ignore_types(sysex=False, timing=False, active_sense=False)
        self.monitor.set_callback(self._on_monitor)
        own = self.client + ":" + name
        self.monitor.open_port(self.monitor.get_ports().index(own))
        self.ticks = 0
        self.clock = rtmidi.MidiOut(rtmidi.API_UNIX_JACK, self.client + "-clock")
        self.clock.open_virtual_port("clock")
        self.clock_monitor = rtmidi.MidiIn(rtmidi.API_UNIX_JACK, self.client + "-clock-monitor")
        self.clock_monitor.ignore_types(sysex=False, timing=False, active_sense=False)
        self.clock_monitor.set_callback(self._on_tick)
        clock = self.client + "-clock:clock"
        self.clock_monitor.open_port(self.clock_monitor.get_ports().index(clock))

    def _on_tick(self, event, data=None):
        with self.seen_changed:
            self.ticks += 1
            self.seen_changed.notify_all()

    def wait_for_tick(self):
        with self.seen_changed:
            expected = self.ticks + 1
        self.clock.send_message(TICK)
        with self.seen_changed:
            if not self.seen_changed.wait_for(lambda: self.ticks >= expected, MONITOR_TIMEOUT_S):
                raise TimeoutError("the clock did not tick")

    def _on_monitor(self, event, data=None):
        with self.seen_changed:
            self.seen += len(event[0])
            self.seen_changed.notify_all()

    def wait_until_seen(self):
        with self.seen_changed:
            if not self.seen_changed.wait_for(lambda: self.seen >= self.sent, MONITOR_TIMEOUT_S):
                raise TimeoutError("the monitor saw %d of %d bytes" % (self.seen, self.sent))

    def _put(self, piece):
        self.port.send_message(piece)
        self.sent += len(piece)

    def send_stream(self, data):
        burst = 0
        for message in messages(data):
            cost = len(message) + EVENT_COST
            if cost > BURST_COST:
                self.wait_until_seen()
                self._send_large(message)
                burst = 0
                continue
            if burst + cost > BURST_COST:
                self.wait_until_seen()
                burst = 0
            self._put(list(message))
            burst += cost
        self.wait_until_seen()

    def _send_large(self, message):
        self._put(list(message[:HEAD_BYTES]))
        burst = LARGE_BURST_COST
        for start in range(HEAD_BYTES, len(message), CONTINUATION_BYTES):
            piece = message[start:start + CONTINUATION_BYTES]
            if burst + len(piece) + EVENT_COST > LARGE_BURST_COST:
                self.wait_for_tick()
                self.wait_for_tick()
                burst = 0
            self._put(list(piece))
            burst += len(piece) + EVENT_COST
        self.wait_until_seen()

    def close(self):
        self.monitor.cancel_callback()
        self.clock_monitor.cancel_callback()
        for client in (self.monitor, self.port, self.clock_monitor, self.clock):
            client.close_port()
            # Closes the JACK client now: one that simply vanishes with the process
            # stalls a synchronous server for its client timeout.
            client.delete()


class Input:
    def __init__(self, name):
        self.lock = threading.Lock()
        self.data = bytearray()
        self.port = rtmidi.MidiIn(rtmidi.API_UNIX_JACK, CLIENT_PREFIX + name, queue_size_limit=65536)
        self.port.ignore_types(sysex=False, timing=False, active_sense=False)
        self.port.set_callback(self._on_message)
        self.port.open_virtual_port(name)

    def _on_message(self, event, data=None):
        message, _delta = event
        with self.lock:
            self.data.extend(message)

    def count(self):
        with self.lock:
            return len(self.data)

    def take(self):
        with self.lock:
            taken = bytes(self.data)
            self.data.clear()
            return taken

    def close(self):
        self.port.cancel_callback()
        self.port.close_port()
        self.port.delete()


def run():
    ports = {}
    for line in sys.stdin:
        words = line.split()
        if not words:
            continue
        command, args = words[0], words[1:]
        try:
            if command == "quit":
                print("ok", flush=True)
                break
            if command == "open_out":
                ports[args[0]] = Output(args[0])
                reply = "ok"
            elif command == "open_in":
                ports[args[0]] = Input(args[0])
                reply = "ok"
            elif command == "close":
                ports.pop(args[0]).close()
                reply = "ok"
            elif command == "send":
                ports[args[0]].port.send_message([int(b, 16) for b in args[1:]])
                reply = "ok"
            elif command == "send_file":
                with open(args[1], "rb") as f:
                    data = f.read()
                ports[args[0]].send_stream(data)
                reply = "ok %d" % len(data)
            elif command == "count":
                reply = "ok %d" % ports[args[0]].count()
            elif command == "save":
                data = ports[args[0]].take()
                with open(args[1], "wb") as f:
                    f.write(data)
                reply = "ok %d" % len(data)
            else:
                reply = "error unknown command " + command
        except Exception as error:  # the test reads the reason from the reply
            reply = "error %s: %s" % (type(error).__name__, error)
        print(reply, flush=True)
    for port in ports.values():
        port.close()


if __name__ == "__main__":
    run()
