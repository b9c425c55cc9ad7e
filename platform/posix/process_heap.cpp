#include "platform/process_heap.h"

#include <unistd.h>
#ifdef __linux__
#include <sys/sysinfo.h>
#endif

#include <cstdlib>

#include "platform/heap_instruments.h"
#include "platform/posix/control_groups.h"
#include "platform/posix/large_blocks.h"

namespace lagscan::platform {
namespace {

// Each block is preceded by a 16-byte header holding its exact size and
// whether it was mapped, which keeps the block itself aligned as malloc's
// blocks are.
constexpr std::uint64_t header_bytes = 16;
constexpr std::uint64_t from_malloc = 0;
constexpr std::uint64_t mapped = 1;

// Large blocks are mapped to be backed by huge pages, except in the
// sanitizer builds, whose malloc checks the bounds of every block.
#if defined(LAGSCAN_SANITIZE)
constexpr bool map_large_blocks = false;
#else
constexpr bool map_large_blocks = true;
#endif

std::uint64_t* header_of(const void* p) {
  return static_cast<std::uint64_t*>(const_cast<void*>(p)) - header_bytes / sizeof(std::uint64_t);
}

constinit const char the_heap = 0;

// The most memory this machine can give one process: physical memory and
// swap, or the control groups' memory limit and swap where that is less.
// Where the system overcommits, a block beyond it would be granted and
// filling it would bring the out-of-memory killer instead of an error, so
// such requests are refused as exhaustion. It is an upper bound: what other
// processes use is not subtracted, so nothing that could succeed is
// refused. 0 when unknown: nothing is refused then.
std::uint64_t machine_memory() noexcept {
#ifdef __linux__
  struct sysinfo info{};
  if (::sysinfo(&info) != 0) return 0;
  std::uint64_t unit = info.mem_unit;
  std::uint64_t swap = std::uint64_t{info.totalswap} * unit;
  std::uint64_t total = std::uint64_t{info.totalram} * unit + swap;
  std::uint64_t group = control_groups::own_memory_limit();
  if (group != 0 && group < total - swap) total = group + swap;
  return total;
#else
  long pages = ::sysconf(_SC_PHYS_PAGES);
  long page_size = ::sysconf(_SC_PAGE_SIZE);
  if (pages <= 0 || page_size <= 0) return 0;
  return static_cast<std::uint64_t>(pages) * static_cast<std::uint64_t>(page_size);
#endif
}

std::uint64_t backable_memory() noexcept {
  std::uint64_t for_tests = instruments::backable_memory_for_tests();
  if (for_tests != 0) return for_tests;
  static const std::uint64_t machine = machine_memory();
  return machine;
}

bool beyond_the_machine(std::uint64_t n) noexcept {
  std::uint64_t limit = backable_memory();
  return limit != 0 && n > limit;
}

}  // namespace

heap_handle process_heap() noexcept { return &the_heap; }

void* heap_allocate(std::uint64_t n) {
  if (n > largest_request || beyond_the_machine(n) || instruments::take_injected_failure()) throw out_of_storage();
  const bool large = map_large_blocks && n >= large_blocks::smallest;
  void* raw = large ? large_blocks::map(n) : std::malloc(static_cast<std::size_t>(n + header_bytes));
  if (raw == nullptr) throw out_of_storage();
  instruments::count_allocation();
  if (large) raw = static_cast<char*>(raw) - header_bytes;
  auto* header = static_cast<std::uint64_t*>(raw);
  header[0] = n;
  header[1] = large ? mapped : from_malloc;
  return static_cast<char*>(raw) + header_bytes;
}

std::uint64_t heap_block_size(const void* p) noexcept {
  return *header_of(p);
}

void heap_release(void* p) noexcept {
  if (p == nullptr) return;
  instruments::count_release();
  std::uint64_t* header = header_of(p);
  if (header[1] == mapped) {
    large_blocks::unmap(p, header[0]);
  } else {
    std::free(header);
  }
}

}  // namespace lagscan::platform
