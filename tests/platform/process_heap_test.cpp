#include "platform/process_heap.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <new>

namespace lagscan::platform {
namespace {

class exact_block_size : public ::testing::TestWithParam<std::uint64_t> {};

// The system allocator's usable size may be larger than asked; heap_3
// derives a block's class from this answer, so it must be the exact request.
TEST_P(exact_block_size, is_answered_for_every_block_and_the_block_is_16_aligned_and_usable) {
  std::uint64_t n = GetParam();
  void* p = heap_allocate(n);
  ASSERT_NE(p, nullptr);
  EXPECT_EQ(heap_block_size(p), n);
  EXPECT_EQ(reinterpret_cast<std::uintptr_t>(p) % 16, 0u);
  std::memset(p, 0xA5, static_cast<std::size_t>(n));
  heap_release(p);
}

INSTANTIATE_TEST_SUITE_P(sizes, exact_block_size,
                         ::testing::Values(0u, 1u, 2u, 15u, 16u, 17u, 24u, 1000u, 4096u, 100000u, 1u << 20,
                                           // around the size from which POSIX blocks are mapped
                                           (2u << 20) - 16, 2u << 20, (2u << 20) + 16, 5u << 20));

TEST(process_heap, counts_the_calls_of_the_calling_thread) {
  heap_calls before = thread_heap_calls();
  void* p = heap_allocate(64);
  heap_release(p);
  heap_release(nullptr);  // ignored, and not counted
  EXPECT_EQ(thread_heap_calls().allocations, before.allocations + 1);
  EXPECT_EQ(thread_heap_calls().releases, before.releases + 1);
}

TEST(process_heap, exhaustion_throws_out_of_storage_which_is_a_bad_alloc_and_never_answers_null) {
  for (std::uint64_t n : {largest_request + 1, UINT64_MAX - 8, UINT64_MAX}) {
    EXPECT_THROW(heap_allocate(n), out_of_storage) << n;
  }
  try {
    heap_allocate(UINT64_MAX);
    ADD_FAILURE() << "a request of UINT64_MAX bytes was granted";
  } catch (const std::bad_alloc& e) {
    EXPECT_STREQ(e.what(), "out of storage");
  }
}

#ifndef _WIN32
// A request beyond the memory the machine can back would be granted by a
// system that overcommits, and filling it would bring the out-of-memory
// killer: it is refused as exhaustion without asking the system. The limit
// is lowered to a size any machine has, so that the refusal shows anywhere.
TEST(process_heap, a_request_beyond_what_the_machine_can_back_is_refused_without_asking_the_system) {
  constexpr std::uint64_t limit = std::uint64_t{64} << 20;
  limit_backable_memory(limit);
  std::uint64_t before = thread_heap_calls().allocations;
  EXPECT_THROW(heap_allocate(limit + 1), out_of_storage);
  EXPECT_EQ(thread_heap_calls().allocations, before);
  void* p = nullptr;
  EXPECT_NO_THROW(p = heap_allocate(limit));
  heap_release(p);
  limit_backable_memory(0);
  EXPECT_NO_THROW(heap_release(heap_allocate(limit + 1)));
}
#endif

#ifdef _WIN32
// Requests up to the largest go to the system heap, which raises a
// structured exception when it cannot give the block; no machine gives a
// terabyte, so it must arrive as out_of_storage, and the heap must still
// serve afterwards.
TEST(process_heap, a_request_the_system_heap_refuses_arrives_as_out_of_storage) {
  std::uint64_t before = thread_heap_calls().allocations;
  EXPECT_THROW(heap_allocate(largest_request), out_of_storage);
  EXPECT_EQ(thread_heap_calls().allocations, before);
  void* p = heap_allocate(24);
  EXPECT_EQ(heap_block_size(p), 24u);
  heap_release(p);
}
#endif

}  // namespace
}  // namespace lagscan::platform
