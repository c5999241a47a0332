// The program's send engine run against a real output, as the command-line program
// runs it (a plain loop that sleeps, the steady clock), and what a peer that sees
// single events should get from it.
#pragma once

#include "app/send_engine.h"
#include "editor/vkstrings.h"
#include "midi/midi_output.h"

#include <cstdint>
#include <string>
#include <vector>

namespace pelrow::testing {

// A dump as the Out box holds it after splitting: SysEx messages of messageBytes
// (the last one shorter), each cut into hex lines of at most 32 bytes, optionally
// with a Note On line after every message; and the bytes those lines stand for.
struct TSplitDump {
  TVKStrings Lines;
  std::vector<uint8_t> Bytes;
};
TSplitDump SplitDump(size_t sysExBytes, size_t messageBytes, bool notesBetween);

// Sends every line at the given speed through the send engine on an open output
// and returns once the device has delivered all of it. Answers the bytes the
// engine sent; failure holds the first error it reported.
int SendThroughEngine(TMidiOutputBase& output, const TVKStrings& lines, int speed,
                      std::string& failure);

// What a send reported: the bytes it counts as sent, its first error, its
// warnings and its last plain report (how it ended).
struct TEngineSendReport {
  int Sent = 0;
  std::string Failure;
  std::vector<std::string> Warnings;
  std::string Outcome;
};
// As SendThroughEngine, in the given event loop.
TEngineSendReport SendThroughEngine(TMidiOutputBase& output, const TVKStrings& lines, int speed,
                                    TSendEventLoop& loop);

// Empty when every event starts with a status byte and holds one whole message,
// and the events joined are exactly sent; else the first thing that is wrong.
std::string CheckWholeMessages(const std::vector<std::vector<uint8_t>>& events,
                               const std::vector<uint8_t>& sent);

} // namespace pelrow::testing
