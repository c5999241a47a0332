// The JACK server that integration tests and benchmarks talk to. The test run
// starts one for all tests (jack_server.sh, named in PELROW_JACK_SERVER_STATE);
// a program run on its own starts a dummy server of its own and stops it at exit.
#pragma once

#include <string>

namespace pelrow::testing {

// Makes sure a server answers and points JACK_DEFAULT_SERVER at it (for this
// process and the peers it starts). Returns the server's name, or empty with a
// reason when none could be started.
std::string EnsureJackServer(std::string& failure);

} // namespace pelrow::testing
