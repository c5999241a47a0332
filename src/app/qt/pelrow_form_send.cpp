// The main window's sending and receiving: Send (F4), Esc, the receive handler, the
// bulk-dump panel and the receive commands of the Options menu. The logic is in
// the send engine and the receive pump; here they meet the window's widgets.
#include "app/qt/pelrow_form.h"

#include "app/qt/send_receive_parts.h"
#include "app/settings_target.h"
#include "editor/qt/veskmemo.h"
#include "midi/midi_menu.h"
#include "support/qt/qt_services.h"

#include <QAction>
#include <QApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>

namespace pelrow {

TSendReceiveParts::TSendReceiveParts(TPelrowForm& form, TClock& clock,
                                     std::unique_ptr<TTimer> bulkTimer, TMidiOutputBase* output)
    : NoMidi(output ? nullptr : std::make_unique<TNoMidiOutput>()), OutBox(*form.SXOutput),
      InBox(*form.SXInput), BulkPanel(*form.PRcvBulkDump, *form.LSysExRcvd, *form.LReceivedSpeed,
                                      *form.SXOutput, *form.SXInput),
      Engine(clock, EventLoop, output ? *output : NoMidi->Output, form.StatusReporter(),
             [&form] { return form.FSendSpeed; }),
      Pump(clock, std::move(bulkTimer), InBox, BulkPanel, output ? *output : NoMidi->Output,
           form.StatusReporter()),
      Keys(form) {
  Pump.SetBatchPoster(&BatchPoster);
}

TClock& TPelrowForm::Clock() {
  return FStartup.Clock ? *FStartup.Clock : SteadyClock();
}

TSendEngine& TPelrowForm::SendEngine() {
  return FSendReceive->Engine;
}

TReceivePump& TPelrowForm::ReceivePump() {
  return FSendReceive->Pump;
}

// After the device menus are connected, which own the devices, and before the
// settings are loaded, which set the receive options.
void TPelrowForm::ConnectSendReceive() {
  FSendReceive = std::make_unique<TSendReceiveParts>(
      *this, Clock(), FStartup.Timers ? FStartup.Timers() : MakeQtTimer(), CurrentOutput());
  if (MidiInMenu)
    MidiInMenu->SetOnMidiData([this](TMidiInput& sender) { MidiInData(sender); });

  TSendEngine& engine = FSendReceive->Engine;
  engine.OnSendStarted = [this](TSendEngine&) { SendStarted(); };
  engine.OnSendEnded = [this](TSendEngine&) { SendEnded(); };
  FSendReceive->Keys.OnKeyUp = [this](QKeyEvent& event) { return KeyPreview(event); };
  SXOutput->OnKeyDown = [this](TVKCustomMemo&, int, Qt::KeyboardModifiers) { SXOutputKeyDown(); };
}

// ---- sending --------------------------------------------------------------------------

void TPelrowForm::BSendClick() {
  if (FSendReceive)
    FSendReceive->Engine.BSendClick(FSendReceive->OutBox);
}

bool TPelrowForm::KeyPreview(QKeyEvent& event) {
  TSendEngine& engine = FSendReceive->Engine;
  if (event.key() == Qt::Key_F4 && !engine.Sending()) {
    engine.KeyUp(TSendKey::F4, FSendReceive->OutBox);
    return true;
  }
  if (event.key() == Qt::Key_Escape && engine.Sending()) {
    engine.KeyUp(TSendKey::Esc, FSendReceive->OutBox);
    return true;
  }
  return false;
}

void TPelrowForm::SXOutputKeyDown() {
  ShowStatus("", TStatusSide::Out, TStatusKind::Plain, false);
}

void TPelrowForm::SendStarted() {
  BSend->setText(CancelSendCaption);
  BClear->setEnabled(false);
  BClearInput->setEnabled(false);
  QApplication::setOverrideCursor(Qt::BusyCursor);
}

void TPelrowForm::SendEnded() {
  QApplication::restoreOverrideCursor();
  BSend->setText(SendCaption);
  BClear->setEnabled(true);
  BClearInput->setEnabled(true);
  // The window was asked to close during the send; it closes now that the send
  // loop no longer runs inside it.
  if (FSendReceive->Engine.CloseRequested())
    QMetaObject::invokeMethod(this, &QWidget::close, Qt::QueuedConnection);
}

// ---- receiving ------------------------------------------------------------------------

void TPelrowForm::MidiInData(TMidiInput& sender) {
  if (FSendReceive)
    FSendReceive->Pump.MidiInData(sender);
}

void TPelrowForm::MidiThru1Click() {
  MenuItem("MidiThru1")->setChecked(FSendReceive->Pump.MidiThru1Click());
}

void TPelrowForm::Splitlongsysexmessages1Click() {
  MenuItem("Splitlongsysexmessages1")
      ->setChecked(FSendReceive->Pump.Splitlongsysexmessages1Click());
}

// The Midi In menu keeps the filters for the settings, so it is told the state the
// input was left in. Without an input the check mark alone holds the choice.
void TPelrowForm::EnableActiveSensing1Click() {
  if (TMidiInput* input = CurrentInput())
    SettingsTarget().SetActiveSensing(FSendReceive->Pump.EnableActiveSensing1Click(*input));
}

void TPelrowForm::EnableMidiTimeCode1Click() {
  if (TMidiInput* input = CurrentInput())
    SettingsTarget().SetTimingClock(FSendReceive->Pump.EnableMidiTimeCode1Click(*input));
}

int TPelrowForm::SplitThreshold() const {
  return FSendReceive ? FSendReceive->Pump.Options().SplitThreshold() : -1;
}

bool TPelrowForm::MidiThru() const {
  return FSendReceive->Pump.Options().MidiThru;
}

void TPelrowForm::SetMidiThru(bool value) {
  FSendReceive->Pump.Options().MidiThru = value;
  MenuItem("MidiThru1")->setChecked(value);
}

bool TPelrowForm::SplitLongMessages() const {
  return FSendReceive->Pump.Options().SplitLongMessages;
}

void TPelrowForm::SetSplitLongMessages(bool value) {
  FSendReceive->Pump.Options().SplitLongMessages = value;
  MenuItem("Splitlongsysexmessages1")->setChecked(value);
}

int TPelrowForm::SplitLongMessagesThreshold() const {
  return FSendReceive->Pump.Options().SplitLongMessagesThreshold;
}

void TPelrowForm::SetSplitLongMessagesThreshold(int value) {
  FSendReceive->Pump.Options().SplitLongMessagesThreshold = value;
}

bool TPelrowForm::SysExOnly() const {
  return FSendReceive->Pump.Options().SysExOnly;
}

void TPelrowForm::SetSysExOnly(bool value) {
  FSendReceive->Pump.Options().SysExOnly = value;
}

} // namespace pelrow
