// Stand-in sources over the process heap until heap_3 and the pools serve
// block_storage. They check the routing contract: a block must come back
// with the size it was obtained with.
#include "memory/storage_sources.h"

#include <cstdlib>

#include "memory/block_storage.h"
#include "platform/process_heap.h"

namespace lagscan::storage_sources {

void ensure_pools() {}

void* pool_allocate(int slot) {
  std::uint64_t bytes = slot == 0 ? 8 : 8 * static_cast<std::uint64_t>(slot);
  return platform::heap_allocate(bytes);
}

void pool_free(int slot, void* p) noexcept {
  std::uint64_t bytes = slot == 0 ? 8 : 8 * static_cast<std::uint64_t>(slot);
  if (platform::heap_block_size(p) != bytes) std::abort();  // freed with the wrong size
  platform::heap_release(p);
}

void* heap_allocate(std::uint64_t n) {
  return platform::heap_allocate(block_storage::class_size(n == 0 ? 1 : n));
}

void heap_free(void* p) noexcept { platform::heap_release(p); }

}  // namespace lagscan::storage_sources
