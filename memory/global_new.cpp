// The global operator new and delete in every form: object storage comes
// from heap_3, never from the C runtime's allocator. (except_3 objects and
// real_array headers take pool blocks instead, by their own code.)
//
// heap_3 blocks are aligned to 16. A stricter alignment is met by asking for
// alignment bytes more and returning the first aligned address past the
// block's start; the block's own address is kept in the word just before
// the returned one, where the aligned delete finds it. Alignments of 16 or
// less take the plain path on both sides, so new and delete agree as long as
// they are given the same alignment, as the language requires.
//
// Exhaustion throws platform::out_of_storage, a std::bad_alloc; no
// new_handler is consulted.
#include <cstddef>
#include <cstdint>
#include <new>

#include "memory/heap_3.h"

namespace {

constexpr std::size_t heap_block_alignment = 16;

void* allocate(std::size_t n) { return lagscan::heap_3::instance().allocate(n); }

void release(void* p) noexcept { lagscan::heap_3::instance().free(p); }

void* allocate_aligned(std::size_t n, std::align_val_t alignment) {
  auto align = static_cast<std::size_t>(alignment);
  if (align <= heap_block_alignment) return allocate(n);
  std::uint64_t bytes = n > UINT64_MAX - align ? UINT64_MAX : std::uint64_t{n} + align;
  void* block = lagscan::heap_3::instance().allocate(bytes);
  // At least one word past the start, so the block's address fits before.
  std::uintptr_t start = reinterpret_cast<std::uintptr_t>(block) + sizeof(void*);
  std::uintptr_t aligned = (start + align - 1) & ~std::uintptr_t{align - 1};
  reinterpret_cast<void**>(aligned)[-1] = block;
  return reinterpret_cast<void*>(aligned);
}

void release_aligned(void* p, std::align_val_t alignment) noexcept {
  if (p == nullptr) return;
  if (static_cast<std::size_t>(alignment) <= heap_block_alignment) {
    release(p);
    return;
  }
  release(static_cast<void**>(p)[-1]);
}

template <class F>
void* or_null(F allocation) noexcept {
  try {
    return allocation();
  } catch (...) {
    return nullptr;
  }
}

}  // namespace

void* operator new(std::size_t n) { return allocate(n); }
void* operator new[](std::size_t n) { return allocate(n); }
void* operator new(std::size_t n, const std::nothrow_t&) noexcept {
  return or_null([n] { return allocate(n); });
}
void* operator new[](std::size_t n, const std::nothrow_t&) noexcept {
  return or_null([n] { return allocate(n); });
}
void* operator new(std::size_t n, std::align_val_t a) { return allocate_aligned(n, a); }
void* operator new[](std::size_t n, std::align_val_t a) { return allocate_aligned(n, a); }
void* operator new(std::size_t n, std::align_val_t a, const std::nothrow_t&) noexcept {
  return or_null([n, a] { return allocate_aligned(n, a); });
}
void* operator new[](std::size_t n, std::align_val_t a, const std::nothrow_t&) noexcept {
  return or_null([n, a] { return allocate_aligned(n, a); });
}

void operator delete(void* p) noexcept { release(p); }
void operator delete[](void* p) noexcept { release(p); }
void operator delete(void* p, std::size_t) noexcept { release(p); }
void operator delete[](void* p, std::size_t) noexcept { release(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { release(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { release(p); }
void operator delete(void* p, std::align_val_t a) noexcept { release_aligned(p, a); }
void operator delete[](void* p, std::align_val_t a) noexcept { release_aligned(p, a); }
void operator delete(void* p, std::size_t, std::align_val_t a) noexcept { release_aligned(p, a); }
void operator delete[](void* p, std::size_t, std::align_val_t a) noexcept { release_aligned(p, a); }
void operator delete(void* p, std::align_val_t a, const std::nothrow_t&) noexcept { release_aligned(p, a); }
void operator delete[](void* p, std::align_val_t a, const std::nothrow_t&) noexcept { release_aligned(p, a); }
