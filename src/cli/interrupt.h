// Ctrl-C as pelrow-cli understands it: the first SIGINT, SIGTERM, SIGQUIT or SIGHUP
// asks the running command to end in good order (a receive still writes what it
// has, a load or a conversion stops and removes its temporary files); a second
// SIGINT, SIGTERM or SIGQUIT ends the program at once, as usual. A hangup (the
// terminal was closed) comes twice as a rule, from the kernel and again from the
// shell: it never ends the program at once, so that what arrived is still saved.
#pragma once

#include <atomic>

namespace pelrow::cli {

// Installs the handler for SIGINT, SIGTERM, SIGQUIT and SIGHUP; a signal that the
// program was started ignoring (nohup, a background job) stays ignored.
void InstallInterruptHandler();
bool Interrupted();
// The flag itself, for the core units that take a stop flag.
const std::atomic<bool>& InterruptFlag();
// The status of a program ended by the signal received: 128 + its number (130
// for SIGINT, 143 for SIGTERM, 129 for SIGHUP, 131 for SIGQUIT), as the shell
// reports it.
int InterruptedStatus();
// What the handler does, for the program's own use and for tests.
void RequestInterrupt(int signal = 2);
void ClearInterrupt();

} // namespace pelrow::cli
