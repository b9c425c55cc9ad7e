// Test builds only: takes and returns of block_storage per source, counted
// on the calling thread, so that tests can show which source served a block
// and that every block came back.
//
// The counting is compiled into the instrumented copy of block_storage.cpp
// that test programs link (the lagscan_test_instruments objects, which come
// before the library on their link line). The shipped program links the
// plain copy, which neither counts nor defines thread_counters: a call from
// shipped code fails to link.
#pragma once

#include <cstdint>

#include "memory/heap_3.h"
#include "memory/pool_table.h"

namespace lagscan::block_storage {

struct counters {
  std::uint64_t pool_takes[pool_table::slot_count];
  std::uint64_t pool_returns[pool_table::slot_count];
  std::uint64_t heap_takes;
  std::uint64_t heap_returns;
  // heap_takes by heap_3 class, so that a test can see the size of a block.
  std::uint64_t heap_class_takes[heap_3::class_count];

  // Blocks taken from either source and not yet returned.
  std::uint64_t blocks_out() const {
    std::uint64_t out = heap_takes - heap_returns;
    for (int slot = 0; slot < pool_table::slot_count; ++slot) out += pool_takes[slot] - pool_returns[slot];
    return out;
  }
};
counters& thread_counters() noexcept;

}  // namespace lagscan::block_storage
