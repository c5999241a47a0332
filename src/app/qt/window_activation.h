// Bringing the running window to the front when a later start handed over to it.
// Desktops that prevent focus stealing refuse a window that raises itself from
// the background; they let it come forward with the token the desktop gave the
// start the user made (Wayland's activation token, X11's startup id).
#pragma once

#include <string>

class QWidget;

namespace pelrow {

void BringWindowToFront(QWidget& window, const std::string& activationToken);

} // namespace pelrow
