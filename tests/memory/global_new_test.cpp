// The global operator new and delete must reach heap_3 in every form: a
// block they free is the next one heap_3 hands out of its class.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <functional>
#include <new>
#include <string>

#include "memory/heap_3.h"

namespace lagscan {
namespace {

struct form_case {
  const char* name;
  std::function<void*(std::size_t)> allocate;
  std::function<void(void*, std::size_t)> release;
};

class global_new_form : public ::testing::TestWithParam<form_case> {};

TEST_P(global_new_form, takes_its_block_from_heap_3_and_gives_it_back_there) {
  const form_case& form = GetParam();
  heap_3& heap = heap_3::instance();
  for (std::size_t n : {std::size_t{24}, std::size_t{700}, std::size_t{70000}}) {
    // heap_3's cache is last in, first out: a block it just took back is
    // the next one out. A block from anywhere else cannot come out of it.
    void* from_heap = heap.allocate(n);
    heap.free(from_heap);
    void* p = form.allocate(n);
    EXPECT_EQ(p, from_heap) << "new did not take the block from heap_3, size " << n;
    std::memset(p, 0x5A, n);
    form.release(p, n);
    void* q = heap.allocate(n);
    EXPECT_EQ(q, p) << "delete did not give the block back to heap_3, size " << n;
    heap.free(q);
  }
}

INSTANTIATE_TEST_SUITE_P(
    forms, global_new_form,
    ::testing::Values(
        form_case{"plain", [](std::size_t n) { return ::operator new(n); }, [](void* p, std::size_t) { ::operator delete(p); }},
        form_case{"sized", [](std::size_t n) { return ::operator new(n); },
                  [](void* p, std::size_t n) { ::operator delete(p, n); }},
        form_case{"array", [](std::size_t n) { return ::operator new[](n); },
                  [](void* p, std::size_t) { ::operator delete[](p); }},
        form_case{"sized_array", [](std::size_t n) { return ::operator new[](n); },
                  [](void* p, std::size_t n) { ::operator delete[](p, n); }},
        form_case{"nothrow", [](std::size_t n) { return ::operator new(n, std::nothrow); },
                  [](void* p, std::size_t) { ::operator delete(p, std::nothrow); }},
        form_case{"nothrow_array", [](std::size_t n) { return ::operator new[](n, std::nothrow); },
                  [](void* p, std::size_t) { ::operator delete[](p, std::nothrow); }},
        form_case{"expression", [](std::size_t n) { return static_cast<void*>(new char[n]); },
                  [](void* p, std::size_t) { delete[] static_cast<char*>(p); }}),
    [](const ::testing::TestParamInfo<form_case>& param) { return std::string(param.param.name); });

struct aligned_case {
  std::size_t alignment;
  std::size_t size;
};

class global_new_aligned : public ::testing::TestWithParam<aligned_case> {};

TEST_P(global_new_aligned, returns_an_aligned_address_in_a_heap_3_block_and_frees_that_whole_block) {
  auto [alignment, size] = GetParam();
  heap_3& heap = heap_3::instance();
  auto align = std::align_val_t{alignment};
  // Stricter alignments than heap_3's 16 ask for alignment bytes more.
  std::size_t request = size + (alignment > 16 ? alignment : 0);
  heap_3::size_class& k = heap.class_record(heap_3::class_of(request));
  using allocation = void* (*)(std::size_t, std::align_val_t);
  using release = void (*)(void*, std::size_t, std::align_val_t);
  allocation allocate_forms[] = {
      [](std::size_t n, std::align_val_t a) { return ::operator new(n, a); },
      [](std::size_t n, std::align_val_t a) { return ::operator new[](n, a, std::nothrow); }};
  release release_forms[] = {[](void* p, std::size_t n, std::align_val_t a) { ::operator delete(p, n, a); },
                             [](void* p, std::size_t, std::align_val_t a) { ::operator delete[](p, a); }};
  for (int form = 0; form < 2; ++form) {
    void* block = heap.allocate(request);
    heap.free(block);
    std::int64_t cached = k.cached;
    auto* p = static_cast<char*>(allocate_forms[form](size, align));
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(p) % alignment, 0u);
    EXPECT_EQ(k.cached, cached - 1) << "the block came from heap_3's class for the padded size";
    EXPECT_GE(p, static_cast<char*>(block));
    EXPECT_LE(p + size, static_cast<char*>(block) + request);
    std::memset(p, 0x3C, size);
    release_forms[form](p, size, align);
    ASSERT_EQ(k.cached, cached);
    EXPECT_EQ(k.entries[k.cached - 1].block, block) << "delete freed the block, not the aligned address";
  }
}

INSTANTIATE_TEST_SUITE_P(alignments, global_new_aligned,
                         ::testing::Values(aligned_case{8, 40}, aligned_case{16, 40}, aligned_case{32, 1},
                                           aligned_case{64, 100}, aligned_case{256, 256},
                                           aligned_case{4096, 5000}));

struct alignas(128) over_aligned {
  char bytes[300];
};

TEST(global_new, an_over_aligned_object_is_aligned_and_deleted_through_heap_3) {
  auto* object = new over_aligned();
  EXPECT_EQ(reinterpret_cast<std::uintptr_t>(object) % 128, 0u);
  object->bytes[299] = 1;
  delete object;
}

TEST(global_new, exhaustion_throws_bad_alloc_and_the_nothrow_forms_answer_null) {
  std::size_t impossible = std::size_t{1} << 40;
  EXPECT_THROW(static_cast<void>(::operator new(impossible)), std::bad_alloc);
  EXPECT_THROW(static_cast<void>(::operator new[](impossible, std::align_val_t{64})), std::bad_alloc);
  EXPECT_EQ(::operator new(impossible, std::nothrow), nullptr);
  EXPECT_EQ(::operator new[](impossible, std::align_val_t{64}, std::nothrow), nullptr);
}

}  // namespace
}  // namespace lagscan
