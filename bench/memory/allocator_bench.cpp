// Allocate/free pairs: the small-block pools (through block_storage, as the
// containers use them, and a pool on its own), heap_3's cached path, and the
// system allocator's malloc/free of the same sizes for comparison.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdlib>

#include "memory/block_storage.h"
#include "memory/heap_3.h"
#include "memory/pool_table.h"

namespace {

using lagscan::block_storage::allocate_bytes;
using lagscan::block_storage::free_bytes;

// One block stays allocated so the pair does not create and release a
// chunk every time (the pools give an empty chunk back at once).
void pool_pair_block_storage(benchmark::State& state) {
  auto n = static_cast<std::uint64_t>(state.range(0));
  void* resident = allocate_bytes(n);
  for (auto _ : state) {
    void* p = allocate_bytes(n);
    benchmark::DoNotOptimize(p);
    free_bytes(p, n);
  }
  free_bytes(resident, n);
}
BENCHMARK(pool_pair_block_storage)->Arg(24)->Arg(128)->Arg(264);

void pool_pair_direct(benchmark::State& state) {
  auto n = static_cast<std::uint64_t>(state.range(0));
  lagscan::block_pool& pool = lagscan::pool_table::instance().slot(lagscan::block_storage::slot_for_bytes(n));
  void* resident = pool.allocate();
  for (auto _ : state) {
    void* p = pool.allocate();
    benchmark::DoNotOptimize(p);
    pool.free(p);
  }
  pool.free(resident);
}
BENCHMARK(pool_pair_direct)->Arg(24)->Arg(128)->Arg(264);

// The last chunk's block is the pair's, so every pair makes and releases a
// chunk: the worst case of the release-at-once rule.
void pool_pair_chunk_churn(benchmark::State& state) {
  lagscan::block_pool pool(state.range(0));
  for (auto _ : state) {
    void* p = pool.allocate();
    benchmark::DoNotOptimize(p);
    pool.free(p);
  }
}
BENCHMARK(pool_pair_chunk_churn)->Arg(24);

void heap_3_cached_pair(benchmark::State& state) {
  auto n = static_cast<std::uint64_t>(state.range(0));
  lagscan::heap_3& heap = lagscan::heap_3::instance();
  heap.free(heap.allocate(n));  // the class's cache holds a block from here on
  for (auto _ : state) {
    void* p = heap.allocate(n);
    benchmark::DoNotOptimize(p);
    heap.free(p);
  }
}
BENCHMARK(heap_3_cached_pair)->Arg(24)->Arg(128)->Arg(264)->Arg(512)->Arg(4096)->Arg(65536);

void malloc_pair(benchmark::State& state) {
  auto n = static_cast<std::size_t>(state.range(0));
  std::free(std::malloc(n));
  for (auto _ : state) {
    void* p = std::malloc(n);
    benchmark::DoNotOptimize(p);
    std::free(p);
  }
}
BENCHMARK(malloc_pair)->Arg(24)->Arg(128)->Arg(264)->Arg(512)->Arg(4096)->Arg(65536);

}  // namespace
