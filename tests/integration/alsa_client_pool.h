// How full another sequencer client's input queue is. alsa-lib answers this only
// for the caller's own client; the kernel answers it for any, so this asks the
// kernel directly (in a file of its own: the kernel's header clashes with alsa-lib's).
#pragma once

namespace pelrow::testing {

// Cells waiting in client's input queue, or -1 when the kernel does not say.
// sequencerFd: the file of any open sequencer handle.
int QueuedInputCells(int sequencerFd, int client);

} // namespace pelrow::testing
