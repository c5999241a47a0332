// Ctrl-C as pelrow-cli understands it: the first one asks the running command to
// end in good order (a receive still writes what it has); a second one ends the
// program at once, as usual.
#pragma once

namespace pelrow::cli {

// Installs the handler for SIGINT and SIGTERM.
void InstallInterruptHandler();
bool Interrupted();
// What the handler does, for the program's own use and for tests.
void RequestInterrupt();
void ClearInterrupt();

} // namespace pelrow::cli
