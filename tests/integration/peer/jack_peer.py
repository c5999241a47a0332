"""A separate JACK client that plays the far side of a MIDI cable for Pelrow's
integration tests and benchmarks. It is driven line by line over stdin and
answers each command with one line on stdout:

  open_out NAME          register an output port (a new client "pelrow-peer-NAME")
  open_in NAME           register an input port that records every byte it receives
  close NAME             remove that port again
  send NAME HEX          send one message ("90 3C 40") from output NAME
  send_file NAME PATH N  send a file's bytes from output NAME in pieces of N bytes,
                         waiting whenever the client's queue is full (nothing is lost)
  count NAME             number of bytes recorded on input NAME so far
  save NAME PATH         write the recorded bytes to PATH and forget them
  quit

Replies are "ok ..." or "error ...". The server is chosen by JACK_DEFAULT_SERVER.
"""
import sys
import threading
import time

import rtmidi

CLIENT_PREFIX = "pelrow-peer-"
QUEUE_FULL_PAUSE_S = 0.0005


class Output:
    def __init__(self, name):
        self.full = False
        self.port = rtmidi.MidiOut(rtmidi.API_UNIX_JACK, CLIENT_PREFIX + name)
        self.port.set_error_callback(self._on_error)
        self.port.open_virtual_port(name)

    def _on_error(self, kind, text, data=None):
        if "full" in text:
            self.full = True
        else:
            print("peer warning: " + text, file=sys.stderr)

    def send(self, message):
        # The client's queue refuses a message that does not fit; wait and retry.
        while True:
            self.full = False
            self.port.send_message(message)
            if not self.full:
                return
            time.sleep(QUEUE_FULL_PAUSE_S)

    def close(self):
        self.port.close_port()
        del self.port


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
        del self.port


def pieces(data, size):
    for start in range(0, len(data), size):
        yield list(data[start:start + size])


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
                ports[args[0]].send([int(b, 16) for b in args[1:]])
                reply = "ok"
            elif command == "send_file":
                with open(args[1], "rb") as f:
                    data = f.read()
                for piece in pieces(data, int(args[2])):
                    ports[args[0]].send(piece)
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
