#include "platform/process_heap.h"

#include <cstdlib>

#include "platform/posix/large_blocks.h"

#if defined(__SANITIZE_ADDRESS__)
#define LAGSCAN_HEAP_UNDER_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define LAGSCAN_HEAP_UNDER_ASAN 1
#endif
#endif

namespace lagscan::platform {
namespace {

// Each block is preceded by a 16-byte header holding its exact size and
// whether it was mapped, which keeps the block itself aligned as malloc's
// blocks are.
constexpr std::uint64_t header_bytes = 16;
constexpr std::uint64_t from_malloc = 0;
constexpr std::uint64_t mapped = 1;

// Large blocks are mapped to be backed by huge pages, except under the
// address sanitizer, whose malloc checks the bounds of every block.
#if defined(LAGSCAN_HEAP_UNDER_ASAN)
constexpr bool map_large_blocks = false;
#else
constexpr bool map_large_blocks = true;
#endif

std::uint64_t* header_of(const void* p) {
  return static_cast<std::uint64_t*>(const_cast<void*>(p)) - header_bytes / sizeof(std::uint64_t);
}

constinit const char the_heap = 0;

}  // namespace

heap_handle process_heap() noexcept { return &the_heap; }

heap_calls& thread_heap_calls() noexcept {
  thread_local constinit heap_calls calls{};
  return calls;
}

void* heap_allocate(std::uint64_t n) {
  if (n > largest_request) throw out_of_storage();
  const bool large = map_large_blocks && n >= large_blocks::smallest;
  void* raw = large ? large_blocks::map(n) : std::malloc(static_cast<std::size_t>(n + header_bytes));
  if (raw == nullptr) throw out_of_storage();
  ++thread_heap_calls().allocations;
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
  ++thread_heap_calls().releases;
  std::uint64_t* header = header_of(p);
  if (header[1] == mapped) {
    large_blocks::unmap(p, header[0]);
  } else {
    std::free(header);
  }
}

}  // namespace lagscan::platform
