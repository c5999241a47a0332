// Folders and files that must be the user's alone. The objects through which two
// copies of the program meet (a lock file and a socket) live in a folder nobody
// else may enter, and settings are written only into a folder nobody else can
// change: another account must not be able to plant links or files there that
// redirect what the program writes or reads.
#pragma once

#include <string>

namespace pelrow {

// Why the folder must not hold the user's files, for a message; empty when it is
// a folder of the user's own that nobody else may write into or replace. A link
// to such a folder is fine when the user made it.
std::string UntrustedFolderReason(const std::string& path);

// The folder for per-user meeting objects: $XDG_RUNTIME_DIR when it is the user's
// own and closed to everyone else, else /tmp/pelrow-<uid>, made for the purpose
// and checked the same way. Empty when neither can be used.
std::string PrivateRuntimeFolder();
// The same choice between the runtime folder given and the fallback.
std::string PrivateRuntimeFolder(const std::string& runtimeFolder, const std::string& fallback);

// Opens a lock file, creating it exclusively when it is missing. Anything but the
// user's own regular file with mode 0600 (a link included) is refused with -1.
int OpenPrivateLockFile(const std::string& path);

} // namespace pelrow
