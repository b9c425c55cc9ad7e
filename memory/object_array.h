// object_array: constructed objects in one heap_3 block that begins with
// their number.
//
// Block layout: an unsigned 64-bit element count n, then the n elements;
// buffer points at the first element, so n sits in the 8 bytes before it.
// Fields: buffer, capacity, count; empty is null, 0, 0, so a process-wide
// object_array is constant-initialised. An array with capacity != 0 and a
// buffer owns the block and its elements.
//
// Elements are built by their default construction, which for text_buffer
// is the raw state (capacity 0, length 0, no storage); they are built first
// to last and destroyed last to first.
#pragma once

#include <cstdint>
#include <new>
#include <type_traits>

#include "memory/heap_3.h"
#include "memory/text_buffer.h"

namespace lagscan {

template <class T>
class object_array {
  static_assert(alignof(T) <= 8, "elements start 8 bytes into a 16-aligned block");

 public:
  constexpr object_array() noexcept = default;
  object_array(const object_array&) = delete;
  object_array& operator=(const object_array&) = delete;
  ~object_array() { destroy(); }

  // A block of n default-constructed elements; answers the first. If an
  // element's construction fails, those already built are destroyed, last
  // first, the block is freed and the failure goes on. Sets neither
  // capacity nor count.
  static T* create(std::uint64_t n) {
    void* block = heap_3::instance().allocate(block_bytes(n));
    *static_cast<std::uint64_t*>(block) = n;
    T* first = first_of(block);
    std::uint64_t built = 0;
    try {
      for (; built < n; ++built) construct_element(first + built);
    } catch (...) {
      while (built > 0) first[--built].~T();
      heap_3::instance().free(block);
      throw;
    }
    return first;
  }

  // Destroys what the array holds, then makes it hold n default-constructed
  // elements (capacity = count = n).
  void construct(std::int32_t n) {
    T* fresh = n > 0 ? create(static_cast<std::uint64_t>(n)) : nullptr;
    destroy();
    buffer = fresh;
    capacity = n > 0 ? n : 0;
    count = capacity;
  }

  // Sets capacity and count to n with fresh elements; the content is never
  // kept. The new elements are complete before the old ones go, so a failure
  // leaves the array as it was.
  void resize(std::int32_t n) {
    if (n <= 0) {
      destroy();
      count = n;
      return;
    }
    if (n == capacity) {
      count = n;
      return;
    }
    T* fresh = create(static_cast<std::uint64_t>(n));
    destroy();
    buffer = fresh;
    capacity = n;
    count = n;
  }

  // Destroys the elements, last first, and frees the block. The fields are
  // reset, so destroying twice (at exit and again by the destructor) is safe.
  void destroy() noexcept {
    if (capacity != 0 && buffer != nullptr) {
      void* block = block_of(buffer);
      std::uint64_t n = *static_cast<std::uint64_t*>(block);
      while (n > 0) buffer[--n].~T();
      heap_3::instance().free(block);
    }
    buffer = nullptr;
    capacity = 0;
    count = 0;
  }

  // The element count stored in the block (the n of create).
  std::uint64_t stored_count() const noexcept {
    return buffer == nullptr ? 0 : *static_cast<const std::uint64_t*>(block_of(buffer));
  }

  T& operator[](std::int32_t i) { return buffer[i]; }
  const T& operator[](std::int32_t i) const { return buffer[i]; }

  T* buffer = nullptr;
  std::int32_t capacity = 0;
  std::int32_t count = 0;

 private:
  static constexpr std::uint64_t header_bytes = 8;

  // 8 + n * sizeof(T), saturated so that an impossible n is refused by the
  // heap instead of wrapping to a small block.
  static std::uint64_t block_bytes(std::uint64_t n) {
    if (n > (UINT64_MAX - header_bytes) / sizeof(T)) return UINT64_MAX;
    return header_bytes + n * sizeof(T);
  }

  static T* first_of(void* block) {
    return reinterpret_cast<T*>(static_cast<char*>(block) + header_bytes);
  }
  static void* block_of(const T* first) {
    return reinterpret_cast<char*>(const_cast<std::remove_const_t<T>*>(first)) - header_bytes;
  }

  static void construct_element(T* at) {
    if constexpr (std::is_same_v<T, text_buffer>) {
      ::new (static_cast<void*>(at)) text_buffer(text_buffer::raw);
    } else {
      ::new (static_cast<void*>(at)) T();
    }
  }
};

}  // namespace lagscan
