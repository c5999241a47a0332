// What the main window owns for sending and receiving: the send engine and the
// receive pump with the adapters that show them the window's boxes and panel.
#pragma once

#include "app/qt/bulk_panel_widget.h"
#include "app/qt/in_box_lines.h"
#include "app/qt/key_preview.h"
#include "app/qt/out_box_source.h"
#include "app/qt/qt_send_event_loop.h"
#include "app/receive_pump.h"
#include "app/send_engine.h"
#include "midi/midi_output.h"
#include "midi/service/loopback/loopback_service.h"
#include "support/qt/qt_services.h"

#include <memory>

namespace pelrow {

class TPelrowForm;

// A window made without a MIDI system (tests) sends to an output that never opens,
// so a send says that nothing is open.
struct TNoMidiOutput {
  TLoopbackMidiService Service;
  TMidiOutput Output{Service};
};

struct TSendReceiveParts {
  // output: the Midi Out menu's device; none without a MIDI system.
  TSendReceiveParts(TPelrowForm& form, TClock& clock, std::unique_ptr<TTimer> bulkTimer,
                    TMidiOutputBase* output);

  std::unique_ptr<TNoMidiOutput> NoMidi;
  TOutBoxSource OutBox;
  TQtSendEventLoop EventLoop;
  TInBoxLines InBox;
  TBulkPanelWidget BulkPanel;
  // Before the pump, which joins its batch worker before the poster goes.
  TQtUiPoster BatchPoster;
  TSendEngine Engine;
  TReceivePump Pump;
  TKeyPreview Keys; // F4 and Esc
};

} // namespace pelrow
