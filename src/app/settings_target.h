// The live state of the main window that the Settings dialog shows and changes.
// The dialog reads it when it is shown, sets the speed and the boxes' font while
// it is open, and sets the rest on Apply or OK; the main window implements it.
#pragma once

#include <string>

namespace pelrow {

class TSettingsTarget {
public:
  virtual ~TSettingsTarget() = default;

  // MIDI Thru menu item: input is echoed to the output while checked.
  virtual bool MidiThru() const = 0;
  virtual void SetMidiThru(bool value) = 0;
  // The input device menu's filters, with their Options menu check marks.
  virtual bool ActiveSensing() const = 0;
  virtual void SetActiveSensing(bool value) = 0;
  virtual bool TimingClock() const = 0;
  virtual void SetTimingClock(bool value) = 0;
  // The send speed, -1000..1000, read by a running send before every chunk.
  virtual int SendSpeed() const = 0;
  virtual void SetSendSpeed(int value) = 0;
  // The pause after each System Exclusive message in ms, 0..2000, for the next send.
  virtual int MessageGap() const = 0;
  virtual void SetMessageGap(int value) = 0;
  // "Split long sys ex messages" menu item.
  virtual bool SplitLongMessages() const = 0;
  virtual void SetSplitLongMessages(bool value) = 0;
  // The In box's font; setting it makes the font fixed pitch on the In box and
  // gives the Out box a copy of the whole font. The logs keep their own font.
  virtual std::string BoxFontName() const = 0;
  virtual int BoxFontSize() const = 0;
  virtual void SetBoxFont(const std::string& name, int pointSize) = 0;
  virtual bool LogListsVisible() const = 0;
  virtual void SetLogListsVisible(bool value) = 0;
  // The In box shows System Exclusive messages only.
  virtual bool SysExOnly() const = 0;
  virtual void SetSysExOnly(bool value) = 0;
  // Only one instance of the program may run (the single-instance guard's Active).
  virtual bool OneInstance() const = 0;
  virtual void SetOneInstance(bool value) = 0;
};

} // namespace pelrow
