// What the program calls itself: its name, maker, home page and version, the
// path of its own executable, and the settings-store key under which every part
// of the program keeps its settings.
#pragma once

#include <string>

namespace pelrow {

const std::string& ProgramName();
const std::string& CompanyName();
const std::string& HomepageURL();
// The canonical path of the running executable, found once.
const std::string& ProgramPath();
// The four-number version compiled into the program, such as "2.4.1.57".
const std::string& ProgramVersion();

// The version shown to the user: 2.4.1.57 becomes 2.41 (the build number dropped,
// the release number joined to the minor number); a version without a dot is empty.
std::string ShortVersion();
std::string ShortVersionOf(const std::string& version);
// The text after the last dot of the version; empty when there is no dot.
std::string BuildNumber();
std::string BuildNumberOf(const std::string& version);

// Company, product and executable base name, joined by backslashes, such as
// "Narvell\Vesk's Pelrow\pelrow". Copies of the program stored under different
// file names thus keep separate settings.
std::string AppRegPath();
std::string AppRegPathFor(const std::string& programPath);
// The main settings key below the user's root: "\Software\" + AppRegPath().
std::string AppRegKey();
// Where older versions kept their settings: "\Software\Narvell\Vesk's Pelrow\".
std::string LegacyRegKey();

} // namespace pelrow
