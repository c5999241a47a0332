// Ctrl-C as pelrow-cli understands it: the first SIGINT or SIGTERM asks the running
// command to end in good order (a receive still writes what it has, a load or a
// conversion stops and removes its temporary files); a second one ends the
// program at once, as usual.
#pragma once

#include <atomic>

namespace pelrow::cli {

// Installs the handler for SIGINT and SIGTERM.
void InstallInterruptHandler();
bool Interrupted();
// The flag itself, for the core units that take a stop flag.
const std::atomic<bool>& InterruptFlag();
// The status of a program ended by the signal received: 128 + its number (130
// for SIGINT, 143 for SIGTERM), as the shell reports it.
int InterruptedStatus();
// What the handler does, for the program's own use and for tests.
void RequestInterrupt(int signal = 2);
void ClearInterrupt();

} // namespace pelrow::cli
