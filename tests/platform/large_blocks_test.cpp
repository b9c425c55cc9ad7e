// Large blocks of the POSIX process heap are faulted in 2 MiB at a time
// where the system gives transparent huge pages on request.
#include <gtest/gtest.h>
#include <sys/resource.h>

#include <cstdint>
#include <cstring>
#include <fstream>
#include <string>

#include "platform/process_heap.h"

namespace lagscan::platform {
namespace {

long minor_faults() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_minflt;
}

TEST(large_blocks, fault_in_far_fewer_times_than_they_have_small_pages) {
#if defined(LAGSCAN_SANITIZE)
  GTEST_SKIP() << "the sanitizer build keeps every block with the sanitizer's allocator";
#endif
  std::ifstream setting("/sys/kernel/mm/transparent_hugepage/enabled");
  std::string mode;
  std::getline(setting, mode);
  if (mode.find("[always]") == std::string::npos && mode.find("[madvise]") == std::string::npos) {
    GTEST_SKIP() << "no transparent huge pages on request here: " << mode;
  }
  constexpr std::uint64_t bytes = std::uint64_t{16} << 20;
  constexpr long small_pages = bytes / 4096;
  void* block = heap_allocate(bytes);
  long before = minor_faults();
  std::memset(block, 0x5A, bytes);
  long faults = minor_faults() - before;
  heap_release(block);
  // Eight huge pages; a quarter of the small pages leaves room for a system
  // short of free huge pages now and then.
  EXPECT_LT(faults, small_pages / 4) << "faults for " << small_pages << " small pages";
}

}  // namespace
}  // namespace lagscan::platform
