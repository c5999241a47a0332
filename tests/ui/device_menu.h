// Choosing a MIDI device in the main window's menus, as a user clicks it.
#pragma once

#include "app/qt/pelrow_form.h"

#include <QAction>
#include <QApplication>
#include <QMenu>
#include <QTest>

#include <string>

namespace pelrow::test {

// Clicks the device of that name in the menu once the MIDI system lists it
// (within waitMs); false when it never does.
inline bool ChooseDevice(TPelrowForm& form, const char* menu, const std::string& device,
                         int waitMs = 0) {
  return QTest::qWaitFor(
      [&] {
        for (QAction* item : form.Menu(menu)->actions())
          if (item->text().toStdString() == device) {
            item->trigger();
            QApplication::processEvents();
            return true;
          }
        return false;
      },
      waitMs);
}

} // namespace pelrow::test
