// The two sources behind block_storage's routing: the small-block pools and
// the size-class heap. Only block_storage calls these; they sit in a header
// of their own so that the routing reads apart from what serves it, and
// inline so that the split costs no call.
#pragma once

#include <cstdint>

#include "memory/heap_3.h"
#include "memory/pool_table.h"

namespace lagscan::storage_sources {

inline void ensure_pools() { pool_table::instance(); }
inline void* pool_allocate(int slot) { return pool_table::instance().slot(slot).allocate(); }
inline void pool_free(int slot, void* p) noexcept { pool_table::instance().slot(slot).free(p); }
inline void* heap_allocate(std::uint64_t n) { return heap_3::instance().allocate(n); }
inline void heap_free(void* p) noexcept { heap_3::instance().free(p); }

}  // namespace lagscan::storage_sources
