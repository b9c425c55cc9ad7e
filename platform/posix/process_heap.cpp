#include "platform/process_heap.h"

#include <cstdlib>

namespace lagscan::platform {
namespace {

// Each block is preceded by a 16-byte header holding its exact size, which
// keeps the block itself aligned as malloc's blocks are.
constexpr std::uint64_t header_bytes = 16;

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
  void* raw = std::malloc(static_cast<std::size_t>(n + header_bytes));
  if (raw == nullptr) throw out_of_storage();
  ++thread_heap_calls().allocations;
  auto* header = static_cast<std::uint64_t*>(raw);
  header[0] = n;
  return static_cast<char*>(raw) + header_bytes;
}

std::uint64_t heap_block_size(const void* p) noexcept {
  return *header_of(p);
}

void heap_release(void* p) noexcept {
  if (p == nullptr) return;
  ++thread_heap_calls().releases;
  std::free(header_of(p));
}

}  // namespace lagscan::platform
