// Takes and returns of block_storage per source since a starting point, on
// the calling thread. A source is a pool slot (0 ... 33) or heap_source.
#pragma once

#include <cstdint>
#include <vector>

#include "memory/storage_counters.h"

namespace lagscan::testing {

inline constexpr int heap_source = pool_table::slot_count;

class storage_counts {
 public:
  storage_counts() : start_(block_storage::thread_counters()) {}

  // The sources of the blocks taken since the start, ascending, one entry
  // per block.
  std::vector<int> takes() const {
    const block_storage::counters& now = block_storage::thread_counters();
    return listed(now.pool_takes, start_.pool_takes, now.heap_takes - start_.heap_takes);
  }
  // The sizes of the heap_3 blocks taken since the start, ascending, one
  // entry per block.
  std::vector<std::uint64_t> heap_block_sizes() const {
    const block_storage::counters& now = block_storage::thread_counters();
    std::vector<std::uint64_t> sizes;
    for (std::int32_t c = 0; c < heap_3::class_count; ++c) {
      for (std::uint64_t k = start_.heap_class_takes[c]; k < now.heap_class_takes[c]; ++k) {
        sizes.push_back(heap_3::class_size(c));
      }
    }
    return sizes;
  }
  std::vector<int> returns() const {
    const block_storage::counters& now = block_storage::thread_counters();
    return listed(now.pool_returns, start_.pool_returns, now.heap_returns - start_.heap_returns);
  }

 private:
  static std::vector<int> listed(const std::uint64_t (&now)[pool_table::slot_count],
                                 const std::uint64_t (&then)[pool_table::slot_count],
                                 std::uint64_t heap) {
    std::vector<int> sources;
    for (int slot = 0; slot < pool_table::slot_count; ++slot) {
      for (std::uint64_t k = then[slot]; k < now[slot]; ++k) sources.push_back(slot);
    }
    for (std::uint64_t k = 0; k < heap; ++k) sources.push_back(heap_source);
    return sources;
  }

  block_storage::counters start_;
};

}  // namespace lagscan::testing
