// Qt's event loop as the send engine sees it. The engine runs inside a click
// handler, so everything the user and the devices do during a send (received data,
// the bulk-dump timer, Esc, a second click) reaches the program only through these
// two calls.
#pragma once

#include "app/send_engine.h"

namespace pelrow {

class TQtSendEventLoop final : public TSendEventLoop {
public:
  void ProcessPending() override;
  // Runs a local event loop for ms, so events are handled while the engine waits
  // instead of piling up behind a sleep.
  void Wait(uint32_t ms) override;
};

} // namespace pelrow
