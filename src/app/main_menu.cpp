// The menu bar and the context menu of the main window.
#include "app/main_menu.h"

#include <array>

namespace pelrow {

namespace {

using K = TMenuItemKind;

// Captions and hints are the program's own texts, spelling included.
constexpr std::array kMainMenu{
    TMenuItemDef{"File1", "&File", "", K::Menu},
    TMenuItemDef{"Open1", "&Open", "Open a .syx file into the Midi Oout box", K::Command},
    TMenuItemDef{"SaveOutAs1", "&Save Midi Out As...",
                 "Save the contents of the Midi Out area as .syx file", K::Command},
    TMenuItemDef{"SaveInAs1", "Save Midi &In As...",
                 "Save the contents of the Midi In area as .syx file", K::Command},
    TMenuItemDef{"SaveOutSeparately1", "Save Out as separate files...",
                 "Save each System Exclusive message of the Midi Out area as a .syx file of "
                 "its own",
                 K::Command},
    TMenuItemDef{"SaveInSeparately1", "Save In as separate files...",
                 "Save each System Exclusive message of the Midi In area as a .syx file of "
                 "its own",
                 K::Command},
    TMenuItemDef{"CheckOutData1", "Check Midi Out data",
                 "Check the messages of the Midi Out area: their ends, stray bytes and "
                 "checksums",
                 K::Command},
    TMenuItemDef{"CheckInData1", "Check Midi In data",
                 "Check the messages of the Midi In area: their ends, stray bytes and "
                 "checksums",
                 K::Command},
    TMenuItemDef{"Exit1", "E&xit", "Exit the program", K::Command},

    // The device menus fill these with their devices at run time.
    TMenuItemDef{"MidiOut1", "Midi &Out", "", K::Menu},
    TMenuItemDef{"MidiIn1", "Midi &In", "", K::Menu},

    TMenuItemDef{"Options1", "&Options", "", K::Menu},
    TMenuItemDef{"Settings1", "Settings...", "", K::Command},
    TMenuItemDef{"N1", "", "", K::Separator},
    TMenuItemDef{"MidiThru1", "MIDI &Thru", "Echos MIDI in to MIDI out", K::Check},
    TMenuItemDef{"EnableActiveSensing1", "Enable &Active Sensing",
                 "When this option is checked, Active Sensing messages are received from "
                 "MIDI. (off by default)",
                 K::Check},
    TMenuItemDef{"EnableMidiTimeCode1", "Enable MIDI Time &Clock",
                 "When this option is checked, Midi Time Code messages received from MIDI "
                 "In . (off by default)",
                 K::Check},
    TMenuItemDef{"Splitlongsysexmessages1", "Split long sys ex messages",
                 "Split long sys ex messages when receiving or when loading a file", K::Check},
    TMenuItemDef{"N2", "", "", K::Separator},
    TMenuItemDef{"ClearLogs1", "Clear Logs", "", K::Command},

    TMenuItemDef{"Help1", "&Help", "", K::Menu},
    // The hint becomes the homepage address when the window is shown.
    TMenuItemDef{"PelrowHomepage1", "&Homepage of Pelrow ", "", K::Command},
    TMenuItemDef{"About1", "&About", "", K::Command},
};

constexpr std::array kPopupMenu{
    TMenuItemDef{"Copy1", "Copy", "", K::Command},
    TMenuItemDef{"Paste1", "Paste", "", K::Command},
    TMenuItemDef{"Cut1", "Cut", "", K::Command},
    TMenuItemDef{"Delete1", "Delete", "", K::Command},
    TMenuItemDef{"SelectAll1", "Select All", "", K::Command},
    TMenuItemDef{"Clear1", "Clear", "", K::Command},
    TMenuItemDef{"N3", "", "", K::Separator},
    TMenuItemDef{"Send1", "Send", "", K::Command},
    TMenuItemDef{"CheckData1", "Check data", "", K::Command},
};

} // namespace

std::span<const TMenuItemDef> MainMenuItems() {
  return kMainMenu;
}

std::span<const TMenuItemDef> PopupMenuItems() {
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
