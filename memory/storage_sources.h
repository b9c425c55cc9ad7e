// The two sources behind block_storage's routing: the small-block pools and
// the size-class heap. Only block_storage calls these.
#pragma once

#include <cstdint>

namespace lagscan::storage_sources {

void ensure_pools();
void* pool_allocate(int slot);
void pool_free(int slot, void* p) noexcept;
void* heap_allocate(std::uint64_t n);
void heap_free(void* p) noexcept;

}  // namespace lagscan::storage_sources
