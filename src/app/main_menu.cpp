// The menu bar and the context menu of the main window.
#include "app/main_menu.h"

#include <array>

namespace pelrow {

namespace {

using K = TMenuItemKind;

// Captions and hints are the program's own texts, spelling included.
constexpr std::array kMainMenu{
    TMenuItemSpec{"File1", "&File", "", K::Menu},
    TMenuItemSpec{"Open1", "&Open", "Open a .syx file into the Midi Oout box", K::Command},
    TMenuItemSpec{"SaveOutAs1", "&Save Midi Out As...",
                  "Save the contents of the Midi Out area as .syx file", K::Command},
    TMenuItemSpec{"SaveInAs1", "Save Midi &In As...",
                  "Save the contents of the Midi In area as .syx file", K::Command},
    TMenuItemSpec{"SaveOutSeparately1", "Save Out as separate files...",
                  "Save each System Exclusive message of the Midi Out area as a .syx file of "
                  "its own",
                  K::Command},
    TMenuItemSpec{"SaveInSeparately1", "Save In as separate files...",
                  "Save each System Exclusive message of the Midi In area as a .syx file of "
                  "its own",
                  K::Command},
    TMenuItemSpec{"CheckOutData1", "Check Midi Out data",
                  "Check the messages of the Midi Out area: their ends, stray bytes and "
                  "checksums",
                  K::Command},
    TMenuItemSpec{"CheckInData1", "Check Midi In data",
                  "Check the messages of the Midi In area: their ends, stray bytes and "
                  "checksums",
                  K::Command},
    TMenuItemSpec{"Exit1", "E&xit", "Exit the program", K::Command},

    // The device menus fill these with their devices at run time.
    TMenuItemSpec{"MidiOut1", "Midi &Out", "", K::Menu},
    TMenuItemSpec{"MidiIn1", "Midi &In", "", K::Menu},

    TMenuItemSpec{"Options1", "&Options", "", K::Menu},
    TMenuItemSpec{"Settings1", "Settings...", "", K::Command},
    TMenuItemSpec{"N1", "", "", K::Separator},
    TMenuItemSpec{"MidiThru1", "MIDI &Thru", "Echos MIDI in to MIDI out", K::Check},
    TMenuItemSpec{"EnableActiveSensing1", "Enable &Active Sensing",
                  "When this option is checked, Active Sensing messages are received from "
                  "MIDI. (off by default)",
                  K::Check},
    TMenuItemSpec{"EnableMidiTimeCode1", "Enable MIDI Time &Clock",
                  "When this option is checked, Midi Time Code messages received from MIDI "
                  "In . (off by default)",
                  K::Check},
    TMenuItemSpec{"Splitlongsysexmessages1", "Split long sys ex messages",
                  "Split long sys ex messages when receiving or when loading a file", K::Check},
    TMenuItemSpec{"N2", "", "", K::Separator},
    TMenuItemSpec{"ClearLogs1", "Clear Logs", "", K::Command},

    TMenuItemSpec{"Help1", "&Help", "", K::Menu},
    // The hint becomes the homepage address when the window is shown.
    TMenuItemSpec{"PelrowHomepage1", "&Homepage of Pelrow ", "", K::Command},
    TMenuItemSpec{"About1", "&About", "", K::Command},
};

constexpr std::array kPopupMenu{
    TMenuItemSpec{"Copy1", "Copy", "", K::Command},
    TMenuItemSpec{"Paste1", "Paste", "", K::Command},
    TMenuItemSpec{"Cut1", "Cut", "", K::Command},
    TMenuItemSpec{"Delete1", "Delete", "", K::Command},
    TMenuItemSpec{"SelectAll1", "Select All", "", K::Command},
    TMenuItemSpec{"Clear1", "Clear", "", K::Command},
    TMenuItemSpec{"N3", "", "", K::Separator},
    TMenuItemSpec{"Send1", "Send", "", K::Command},
    TMenuItemSpec{"CheckData1", "Check data", "", K::Command},
};

} // namespace

std::span<const TMenuItemSpec> MainMenuItems() {
  return kMainMenu;
}

std::span<const TMenuItemSpec> PopupMenuItems() {
  return kPopupMenu;
}

TPopupState PopupStateFor(const TPopupContext& c) {
  const bool editable = !c.ReadOnly;
  TPopupState s{};
  s.Copy = {true, c.HasSelection};
  s.Cut = {editable, c.HasSelection};
  s.Delete = {editable, c.HasSelection};
  s.Paste = {editable, editable && c.ClipboardHasText};
  s.SelectAll = {true, true};
  s.Clear = {true, true};
  s.Send = {c.IsOutBox, true};
  s.CheckData = {c.IsDataBox, true};
  return s;
}

} // namespace pelrow
