// Sending and receiving in the real main window over the loopback port: F4, Esc,
// closing during a send, the pause after each message, and a bulk dump behind its
// panel.
#include "form_fixture.h"

#include "app/app_settings.h"
#include "app/qt/settings_form.h"
#include "app/qt/status_bar.h"
#include "app/receive_pump.h"
#include "app/send_engine.h"
#include "app/send_rate.h"
#include "midi/service/loopback/loopback_hub.h"
#include "support/registry_store.h"
#include "support/scratch_folder.h"

#include <QAction>
#include <QLabel>
#include <QPushButton>
#include <QSpinBox>

namespace pelrow::test {
namespace {

class PelrowFormSend : public FormFixture {
protected:
  static void SetOutBox(TPelrowForm& form, const std::vector<std::string>& lines) {
    form.SXOutput->Lines().Clear();
    for (const std::string& line : lines)
      form.SXOutput->Lines().Add(line);
  }

  // Enough lines that a send at the slowest speed lasts a good while.
  static void SetLongOutBox(TPelrowForm& form) {
    SetOutBox(form, std::vector<std::string>(40, "F0 7E 7F 06 01 F7"));
    form.FSendSpeed = SendSpeedMin;
  }

  // The Settings dialog as the program entry makes it, opened from its menu item.
  static TSettingsForm& OpenSettings(TPelrowForm& form) {
    if (form.SettingsForm == nullptr)
      form.SettingsForm = new TSettingsForm(form.SettingsTarget(), &form);
    form.MenuItem("Settings1")->trigger();
    QApplication::processEvents();
    return *form.SettingsForm;
  }

  static std::string PauseText(const TSettingsForm& dialog) {
    return (dialog.LMessageGap->text() + " " + dialog.SEMessageGap->text()).toStdString();
  }

  static std::vector<uint8_t> SysEx(int length, uint8_t fill) {
    std::vector<uint8_t> bytes(static_cast<size_t>(length), fill);
    bytes.front() = 0xF0;
    bytes.back() = 0xF7;
    return bytes;
  }

  static std::string HexLine(const std::vector<uint8_t>& bytes) {
    static const char digits[] = "0123456789ABCDEF";
    std::string line;
    for (uint8_t byte : bytes) {
      if (!line.empty())
        line += ' ';
      line += digits[byte >> 4];
      line += digits[byte & 15];
    }
    return line;
  }
};

TEST_F(PelrowFormSend, F4SendsTheOutBoxAndTheLoopbackBringsItIntoTheInBox) {
  auto form = Start();
  OpenLoopback(*form);
  form->FSendSpeed = 0;
  const std::vector<std::string> sent = {"F0 41 10 42 12 40 00 7F 00 41 F7", "90 3C 7F"};
  SetOutBox(*form, sent);

  QTest::keyRelease(form->SXOutput, Qt::Key_F4);
  EXPECT_EQ(form->PStatusBar->PanelText(0), "Sent 14 bytes");
  EXPECT_EQ(form->BSend->text(), "Send (F4)");
  ASSERT_TRUE(WaitFor([&] { return form->SXInput->Lines().Count() == 2; }));
  EXPECT_EQ(LinesOf(form->SXInput), sent);
  EXPECT_EQ(LastLine(form->LogIn), "Received 11 bytes succesfully.");
  EXPECT_TRUE(ErrorBoxes.empty());

  // Typing in the Out box clears what the last send reported.
  QTest::keyClick(form->SXOutput, Qt::Key_Right);
  EXPECT_EQ(form->PStatusBar->PanelText(0), "");
}

TEST_F(PelrowFormSend, WithNoOutputOpenNothingIsSentAndTheUserIsTold) {
  auto form = Start();
  SetOutBox(*form, {"90 3C 7F"});
  form->BSend->click();
  EXPECT_EQ(ErrorBoxes.size(), 1u);
  EXPECT_TRUE(form->PStatusBar->PanelText(0).startsWith("Error: "));
  EXPECT_EQ(form->BSend->text(), "Send (F4)");
}

TEST_F(PelrowFormSend, EscCancelsARunningSendWhileTheWindowShowsItIsBusy) {
  auto form = Start();
  OpenLoopback(*form);
  SetLongOutBox(*form);
  QString captionDuringSend;
  bool clearEnabledDuringSend = true;
  bool busyCursorDuringSend = false;
  When([&] { return form->SendEngine().TotalSent() > 0; },
       [&] {
         captionDuringSend = form->BSend->text();
         clearEnabledDuringSend = form->BClear->isEnabled() || form->BClearInput->isEnabled();
         busyCursorDuringSend = QApplication::overrideCursor() != nullptr;
         QTest::keyRelease(form->SXOutput, Qt::Key_Escape);
       });

  QTest::keyRelease(form->SXOutput, Qt::Key_F4);
  EXPECT_EQ(captionDuringSend, "Cancel (Esc)");
  EXPECT_FALSE(clearEnabledDuringSend);
  EXPECT_TRUE(busyCursorDuringSend);
  const int sent = form->SendEngine().TotalSent();
  EXPECT_GT(sent, 0);
  EXPECT_LT(sent, 40 * 6);
  EXPECT_EQ(LastLine(form->LogOut), "Sending cancelled (sent " + std::to_string(sent) + " bytes)");
  EXPECT_EQ(form->BSend->text(), "Send (F4)");
  EXPECT_TRUE(form->BClear->isEnabled());
  EXPECT_TRUE(form->BClearInput->isEnabled());
  EXPECT_EQ(QApplication::overrideCursor(), nullptr);
}

TEST_F(PelrowFormSend, ClosingDuringASendCancelsItAndClosesOnceItHasEnded) {
  auto form = Start();
  OpenLoopback(*form);
  SetLongOutBox(*form);
  bool visibleAfterClose = false;
  When([&] { return form->SendEngine().TotalSent() > 0; },
       [&] {
         form->close();
         visibleAfterClose = form->isVisible();
       });

  form->BSend->click();
  EXPECT_TRUE(visibleAfterClose);
  EXPECT_TRUE(LastLine(form->LogOut).starts_with("Sending cancelled"));
  EXPECT_TRUE(WaitFor([&] { return !form->isVisible(); }));
}

// Each message reaches the device a pause after the one before, however fast the
// speed setting lets bytes go, and the status line says why the send is slow.
TEST_F(PelrowFormSend, ThePauseChosenInSettingsFollowsEachSysExOfASend) {
  auto form = Start();
  OpenLoopback(*form);
  form->FSendSpeed = SendSpeedUnpaced;
  TSettingsForm& dialog = OpenSettings(*form);
  dialog.SEMessageGap->setValue(150);
  EXPECT_EQ(form->SendEngine().MessageGap(), 0u); // not before OK
  dialog.BOK->click();
  EXPECT_EQ(form->SendEngine().MessageGap(), 150u);

  std::vector<uint32_t> handedOver;
  form->CurrentOutput()->OnSendText = [&](TMidiOutput&, const std::string&) {
    handedOver.push_back(Clock.NowMs());
  };
  QString statusDuringSend;
  When([&] { return form->SendEngine().TotalSent() > 0; },
       [&] { statusDuringSend = form->PStatusBar->PanelText(0); });
  // The first line holds two messages: the pause falls between them as well.
  const std::vector<std::string> sent = {"F0 41 10 42 12 40 00 7F 00 41 F7 F0 7E 7F 06 01 F7",
                                         "F0 43 10 4C 00 00 7E 00 F7"};
  SetOutBox(*form, sent);
  form->BSend->click();

  ASSERT_EQ(handedOver.size(), 3u);
  for (size_t i = 1; i < handedOver.size(); ++i)
    EXPECT_GE(handedOver[i] - handedOver[i - 1], 150u) << i;
  EXPECT_EQ(statusDuringSend.toStdString(),
            "Sending MIDI out data, pausing 150 ms after each System Exclusive message...");
  EXPECT_EQ(form->PStatusBar->PanelText(0), "Sent 26 bytes");
  ASSERT_TRUE(WaitFor([&] { return form->SXInput->Lines().Count() == 3; }));
  EXPECT_EQ(LinesOf(form->SXInput), (std::vector<std::string>{"F0 41 10 42 12 40 00 7F 00 41 F7",
                                                              "F0 7E 7F 06 01 F7", sent[1]}));
}

TEST_F(PelrowFormSend, ThePauseIsKeptInTheSettingsAndCancelLeavesIt) {
  TScratchFolder folder;
  TRegistryStore store(folder.Path("registry"));
  {
    auto form = Start({}, &store);
    TSettingsForm& dialog = OpenSettings(*form);
    EXPECT_EQ(PauseText(dialog), "Pause after each System Exclusive message: 0 ms");
    dialog.SEMessageGap->setValue(40);
    EXPECT_TRUE(dialog.BApply->isEnabled());
    dialog.BApply->click();
    dialog.SEMessageGap->setValue(80);
    dialog.BCancel->click();
    EXPECT_EQ(form->SendEngine().MessageGap(), 40u);
    form->close();
  }
  EXPECT_EQ(store.ReadValue(ProgramSettingsKeys().Key + "\\Current", "MessageGap"),
            TRegValue::FromInteger(40));

  auto form = Start({}, &store);
  EXPECT_EQ(form->SendEngine().MessageGap(), 40u);
  EXPECT_EQ(PauseText(OpenSettings(*form)), "Pause after each System Exclusive message: 40 ms");
}

TEST_F(PelrowFormSend, ABulkDumpWaitsBehindThePanelAndLandsInOneBatch) {
  auto form = Start();
  OpenLoopback(*form);
  const std::vector<uint8_t> first = SysEx(600, 0x11);
  const std::vector<uint8_t> second = SysEx(600, 0x22);
  std::vector<uint8_t> dump = first;
  dump.insert(dump.end(), {0x90, 0x3C, 0x7F});
  dump.insert(dump.end(), second.begin(), second.end());
  ASSERT_TRUE(Service->InjectInput(LoopbackPortName, dump));
  ASSERT_TRUE(WaitFor([&] { return form->ReceivePump().PendingBytes() == 1200; }));

  EXPECT_TRUE(form->ReceivePump().BulkMode());
  EXPECT_TRUE(form->PRcvBulkDump->isVisible());
  EXPECT_EQ(form->LSysExRcvd->text(), "Received 1200 bytes...");
  const QRect panel = form->PRcvBulkDump->geometry();
  const QPoint inBoxCentre = form->SXInput->mapTo(form->PanelMain, form->SXInput->rect().center());
  EXPECT_LE(std::abs(panel.center().x() - inBoxCentre.x()), 1);
  EXPECT_GE(panel.top(), 0);
  // The dump's first message left the box; the short message stays.
  EXPECT_EQ(LinesOf(form->SXInput), std::vector<std::string>{"90 3C 7F"});

  BulkTimer().Fire(); // the input has not been quiet for a second yet
  EXPECT_TRUE(form->PRcvBulkDump->isVisible());
  Clock.Skip(TReceivePump::BulkTimerIntervalMs);
  BulkTimer().Fire();
  EXPECT_FALSE(form->PRcvBulkDump->isVisible());
  EXPECT_EQ(LinesOf(form->SXInput),
            (std::vector<std::string>{"90 3C 7F", HexLine(first), HexLine(second)}));
  EXPECT_TRUE(LastLine(form->LogIn).starts_with("Received 1200 bytes of bulk dump (at "));
  EXPECT_FALSE(BulkTimer().Active());
}

// Sent from the Out box to the loopback, as a user tries it: the input hands a
// message over in buffers of 1024 bytes.
TEST_F(PelrowFormSend, OneLongSysExIsOneInBoxLineOrLinesOfTheThreshold) {
  auto form = Start();
  OpenLoopback(*form);
  const std::vector<uint8_t> sysex = SysEx(3000, 0x11);
  for (const int threshold : {-1, 32}) {
    SCOPED_TRACE(threshold);
    form->SXInput->Clear();
    form->LogIn->Clear();
    form->SetSplitLongMessages(threshold > 0);
    form->SetSplitLongMessagesThreshold(32);
    ASSERT_TRUE(Service->InjectInput(LoopbackPortName, sysex));
    ASSERT_TRUE(WaitFor([&] { return LastLine(form->LogIn).starts_with("Received"); }));
    const std::vector<std::string> lines = LinesOf(form->SXInput);
    ASSERT_EQ(lines.size(), threshold > 0 ? 94u : 1u); // 3000 bytes in lines of 32
    EXPECT_EQ(lines.front().substr(0, 8), "F0 11 11");
    for (std::size_t i = 0; i + 1 < lines.size(); ++i)
      EXPECT_EQ(lines[i].size(), 32u * 3 - 1);
    EXPECT_EQ(LastLine(form->LogIn), "Received 3000 bytes succesfully.");
    EXPECT_FALSE(form->PRcvBulkDump->isVisible());
    Clock.Skip(5000); // the next one is no part of a burst
  }
}

TEST_F(PelrowFormSend, ReceiveCommandsOfTheOptionsMenuShowTheStateTheyLeave) {
  auto form = Start();
  form->MenuItem("MidiThru1")->trigger();
  EXPECT_TRUE(form->MidiThru());
  EXPECT_TRUE(form->MenuItem("MidiThru1")->isChecked());
  EXPECT_EQ(LastLine(form->LogIn), "Enabled MIDI thru");

  form->MenuItem("EnableActiveSensing1")->trigger();
  EXPECT_TRUE(form->CurrentInput()->GetActiveSensing());
  EXPECT_TRUE(form->MenuItem("EnableActiveSensing1")->isChecked());
  form->MenuItem("EnableMidiTimeCode1")->trigger();
  EXPECT_TRUE(form->CurrentInput()->GetTimingClock());
  EXPECT_TRUE(form->MenuItem("EnableMidiTimeCode1")->isChecked());
  form->MenuItem("EnableMidiTimeCode1")->trigger();
  EXPECT_FALSE(form->CurrentInput()->GetTimingClock());
  EXPECT_FALSE(form->MenuItem("EnableMidiTimeCode1")->isChecked());
  EXPECT_EQ(LastLine(form->LogIn), "Disabled receiving MTC (Midi Time Clock) messages");

  // Settings set the options without the menu; the check marks follow.
  form->SetSplitLongMessages(true);
  form->SetSplitLongMessagesThreshold(64);
  EXPECT_TRUE(form->MenuItem("Splitlongsysexmessages1")->isChecked());
  EXPECT_EQ(form->SplitThreshold(), 64);
  form->MenuItem("Splitlongsysexmessages1")->trigger();
  EXPECT_EQ(form->SplitThreshold(), -1);
  EXPECT_FALSE(form->MenuItem("Splitlongsysexmessages1")->isChecked());
}

} // namespace
} // namespace pelrow::test
