// Every program these tests start lists only the ports the tests give it: a developer's bench may
// have meters plugged in, and a test never sends them a command.

#include <cstdlib>

namespace {

const int g_portsOnly = setenv("KELVARIN_PORTS_ONLY", "1", 1);

} // namespace
