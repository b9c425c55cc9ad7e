// clang's OpenMP runtime (libomp) loads a tool library when it starts, and
// that tool allocates with operator new. Our operator new goes to heap_3,
// whose creation is what first starts the runtime (it makes its locks), so
// the allocation would re-enter heap_3's creation and stop the program.
// The product links libgomp, which loads no tool; here the tool is switched
// off before anything allocates: before libFuzzer's coverage set-up, which
// runs at constructor priority 2 and already allocates. A target that links
// OpenBLAS is too late even so: OpenBLAS's constructor, which runs before
// any of the program's, starts the runtime; scripts/fuzz sets OMP_TOOL for
// those (run them by hand with OMP_TOOL=disabled as well).
#include <cstdlib>

[[gnu::constructor(1)]] static void switch_off_openmp_tool() { ::setenv("OMP_TOOL", "disabled", 0); }
