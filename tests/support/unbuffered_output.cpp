// Linked into every test program of the Windows build. Under wine, a program
// that wrote nothing at all is taken to have never started, and is started
// again (scripts/wine-run); with standard output unbuffered, a program that
// ran writes its first line at once, and one that crashes keeps what it
// wrote before.
#include <cstdio>

namespace {

const bool unbuffered = [] { return std::setvbuf(stdout, nullptr, _IONBF, 0) == 0; }();

}  // namespace
