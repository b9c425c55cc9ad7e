// Blocks the calling thread has taken from block_storage since the process
// began and not returned.
#pragma once

#include <cstdint>

#include "memory/storage_counters.h"

namespace lagscan::testing {

inline std::int64_t outstanding_blocks() {
  const block_storage::counters& c = block_storage::thread_counters();
  std::int64_t n = static_cast<std::int64_t>(c.heap_takes) - static_cast<std::int64_t>(c.heap_returns);
  for (int slot = 0; slot < pool_table::slot_count; ++slot) {
    n += static_cast<std::int64_t>(c.pool_takes[slot]) - static_cast<std::int64_t>(c.pool_returns[slot]);
  }
  return n;
}

}  // namespace lagscan::testing
