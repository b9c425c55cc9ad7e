#include "memory/pool_table.h"

#include <bit>
#include <cstring>
#include <new>

#include "memory/sanitizer.h"
#include "platform/contract.h"

namespace lagscan {
namespace {

std::uint64_t data_address(const chunk* c) { return reinterpret_cast<std::uintptr_t>(c->data); }

}  // namespace

block_pool::block_pool(std::int64_t size) noexcept
    : lock(),
      block_size(size),
      span(0),
      blocks_per_chunk(blocks_per_chunk_for(size)),
      bitmap_words(bitmap_words_for(blocks_per_chunk)),
      reciprocal(reciprocal_of(size)) {
  omp_init_nest_lock(&lock);
  span = static_cast<std::int64_t>(blocks_per_chunk - 1) * block_size;
}

block_pool::~block_pool() {
  omp_destroy_nest_lock(&lock);
  for (chunk* c : chunk_list) destroy_chunk(c);
}

void* block_pool::start_chunk() {
  chunk* c = create_chunk();
  c->used = 1;
  c->bitmap[0] = 1;
  std::int32_t at = -1;
  try {
    at = chunk_list.insert_sorted(c, data_address);
    // Room on the open_list for every chunk: a free that reopens a full
    // chunk then never needs storage, and so never fails.
    while (open_list.capacity < chunk_list.count) {
      open_list.reserve(open_list.capacity == 0 ? 8 : 2 * open_list.capacity, true);
    }
  } catch (...) {
    if (at >= 0) chunk_list.remove_at(at);
    destroy_chunk(c);
    throw;
  }
  open_list.insert_at(c, open_list.count);
  return c->data;
}

chunk* block_pool::create_chunk() {
  heap_3& heap = heap_3::instance();
  auto* c = ::new (heap.allocate(sizeof(chunk))) chunk{};
  c->pool = this;
  try {
    c->data = static_cast<char*>(heap.allocate(blocks_per_chunk * static_cast<std::uint64_t>(block_size)));
    c->bitmap = static_cast<std::uint64_t*>(heap.allocate(bitmap_words * sizeof(std::uint64_t)));
  } catch (...) {
    heap.free(c->data);
    heap.free(c);
    throw;
  }
  std::memset(c->bitmap, 0, bitmap_words * sizeof(std::uint64_t));
  c->used = 0;
  // Every block but the first, which the caller hands out, is free.
  sanitizer::poison(c->data + block_size, (blocks_per_chunk - 1) * static_cast<std::uint64_t>(block_size));
  return c;
}

void block_pool::destroy_chunk(chunk* c) noexcept {
  heap_3& heap = heap_3::instance();
  // heap_3 takes blocks back exposed; its cache poisons them again.
  sanitizer::unpoison(c->data, blocks_per_chunk * static_cast<std::uint64_t>(block_size));
  heap.free(c->data);
  heap.free(c->bitmap);
  heap.free(c);
}

void block_pool::stop(const char* message) noexcept { platform::stop_on_contract_violation(message); }

void block_pool::release_chunk(std::int32_t index) noexcept {
  chunk* c = chunk_list.buffer[index];
  for (std::int32_t k = 0; k < open_list.count; ++k) {
    if (open_list.buffer[k] == c) {
      open_list.remove_at(k);
      break;
    }
  }
  chunk_list.remove_at(index);
  destroy_chunk(c);
}

const char* block_pool::bookkeeping_fault() const noexcept {
  if (open_list.capacity < chunk_list.count) return "the open_list has no room for every chunk";
  for (std::int32_t k = 0; k < chunk_list.count; ++k) {
    const chunk* c = chunk_list.buffer[k];
    if (c->pool != this) return "a chunk names another pool";
    if (k > 0 && data_address(chunk_list.buffer[k - 1]) >= data_address(c)) {
      return "the chunk_list is not ascending by data address";
    }
    std::int64_t bits = 0;
    for (std::uint64_t w = 0; w < bitmap_words; ++w) {
      std::uint64_t word = c->bitmap[w];
      std::uint64_t first_beyond = blocks_per_chunk > 64 * w ? blocks_per_chunk - 64 * w : 0;
      if (first_beyond < 64 && (word >> first_beyond) != 0) return "a bit beyond the last block is set";
      bits += std::popcount(word);
    }
    if (c->used != bits) return "a chunk's used count differs from its bits in use";
    if (c->used < 1) return "a chunk with no block in use was kept";
    std::int32_t listed = 0;
    for (std::int32_t o = 0; o < open_list.count; ++o) listed += open_list.buffer[o] == c ? 1 : 0;
    bool open = static_cast<std::uint64_t>(c->used) < blocks_per_chunk;
    if (listed != (open ? 1 : 0)) return "the open_list does not hold exactly the chunks with a free block";
  }
  for (std::int32_t o = 0; o < open_list.count; ++o) {
    bool known = false;
    for (std::int32_t k = 0; k < chunk_list.count && !known; ++k) known = chunk_list.buffer[k] == open_list.buffer[o];
    if (!known) return "the open_list holds a chunk that is not on the chunk_list";
  }
  return nullptr;
}

pool_table* pool_table::create(heap_3& heap) {
  void* block = heap.allocate(sizeof(pool_table));
  auto* table = ::new (block) pool_table{};  // zero-filled: no slots yet
  try {
    table->resize_slots(slot_count, heap);
    std::memset(static_cast<void*>(table->slots + table->base), 0,
                sizeof(block_pool*) * static_cast<std::size_t>(slot_count));
    for (std::int64_t size = 8; size <= largest_pool_block_size; size += 8) {
      void* pool_block = heap.allocate(sizeof(block_pool));
      std::memset(pool_block, 0, sizeof(block_pool));
      table->slots[size / 8] = ::new (pool_block) block_pool(size);
    }
    table->slots[0] = table->slots[1];
  } catch (...) {
    destroy(table, heap);
    throw;
  }
  return table;
}

void pool_table::destroy(pool_table* table, heap_3& heap) noexcept {
  table->tear_down_pools(heap);
  table->resize_slots(0, heap);  // frees, never allocates
  heap.free(table);
}

// Content is not kept: the table only ever sizes its slot array once.
void pool_table::resize_slots(std::int32_t n, heap_3& heap) {
  if (n <= 0) {
    if (capacity != 0) heap.free(slots + base);
    slots = nullptr;
    capacity = 0;
    base = 0;
  } else if (n != capacity) {
    auto* block = static_cast<block_pool**>(heap.allocate(sizeof(block_pool*) * static_cast<std::uint32_t>(n)));
    if (capacity != 0) heap.free(slots + base);
    slots = block - base;
    capacity = n;
  }
  count = n;
}

void pool_table::tear_down_pools(heap_3& heap) noexcept {
  if (capacity == 0) return;
  slots[0] = nullptr;  // slot 1's pool, torn down once
  for (std::int32_t s = 1; s < count; ++s) {
    if (slots[s] == nullptr) continue;
    slots[s]->~block_pool();
    heap.free(slots[s]);
    slots[s] = nullptr;
  }
}

}  // namespace lagscan
