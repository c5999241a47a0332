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

#include <memory>

namespace pelrow {

class TPelrowForm;

struct TSendReceiveParts {
  TSendReceiveParts(TPelrowForm& form, TClock& clock, std::unique_ptr<TTimer> bulkTimer,
                    TMidiOutputBase& output);

  TOutBoxSource OutBox;
  TQtSendEventLoop EventLoop;
  TInBoxLines InBox;
  TBulkPanelWidget BulkPanel;
  TSendEngine Engine;
  TReceivePump Pump;
  TKeyPreview Keys; // F4 and Esc
};

} // namespace pelrow
