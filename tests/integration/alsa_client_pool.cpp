// The sequencer's pool query, straight to the kernel.
#include "alsa_client_pool.h"

#include <sound/asequencer.h>
#include <sys/ioctl.h>

namespace pelrow::testing {

int QueuedInputCells(int sequencerFd, int client) {
  snd_seq_client_pool pool{};
  pool.client = client;
  if (ioctl(sequencerFd, SNDRV_SEQ_IOCTL_GET_CLIENT_POOL, &pool) < 0 || pool.input_pool <= 0)
    return -1;
  return pool.input_pool - pool.input_free;
}

} // namespace pelrow::testing
