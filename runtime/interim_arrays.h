// INTERIM: heap_array and object_array as the memory branch will provide
// them, only so that the per-thread arrays build until that branch lands.
#pragma once

#include <cstdint>
#include <new>
#include <type_traits>

#include "memory/storage_sources.h"
#include "memory/text_buffer.h"

namespace lagscan {

template <class T>
class heap_array {
 public:
  constexpr heap_array() noexcept = default;
  heap_array(const heap_array&) = delete;
  heap_array& operator=(const heap_array&) = delete;
  ~heap_array() {
    if (capacity != 0) storage_sources::heap_free(buffer);
  }

  void resize(std::int32_t n) {
    static_assert(sizeof(T) == 2);
    if (n <= 0) {
      if (capacity != 0) storage_sources::heap_free(buffer);
      capacity = 0;
      count = n;
      return;
    }
    if (n == capacity) {
      count = n;
      return;
    }
    T* block = static_cast<T*>(storage_sources::heap_allocate(2 * static_cast<std::uint64_t>(n)));
    if (capacity != 0) storage_sources::heap_free(buffer);
    buffer = block;
    capacity = n;
    count = n;
  }

  T* buffer = nullptr;
  std::int32_t capacity = 0;
  std::int32_t count = 0;
};

template <class T>
class object_array {
 public:
  constexpr object_array() noexcept = default;
  object_array(const object_array&) = delete;
  object_array& operator=(const object_array&) = delete;
  ~object_array() { destroy(); }

  static T* create(std::uint64_t n) {
    void* block = storage_sources::heap_allocate(8 + n * sizeof(T));
    *static_cast<std::uint64_t*>(block) = n;
    T* first = reinterpret_cast<T*>(static_cast<char*>(block) + 8);
    std::uint64_t made = 0;
    try {
      for (; made < n; ++made) {
        if constexpr (std::is_same_v<T, text_buffer>) {
          new (first + made) text_buffer(text_buffer::raw);
        } else {
          new (first + made) T();
        }
      }
    } catch (...) {
      while (made > 0) first[--made].~T();
      storage_sources::heap_free(block);
      throw;
    }
    return first;
  }

  void resize(std::int32_t n) {
    if (n <= 0) {
      destroy();
      capacity = 0;
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

  void destroy() noexcept {
    if (capacity == 0 || buffer == nullptr) return;
    char* block = reinterpret_cast<char*>(buffer) - 8;
    std::uint64_t n = *reinterpret_cast<std::uint64_t*>(block);
    while (n > 0) buffer[--n].~T();
    storage_sources::heap_free(block);
  }

  T* buffer = nullptr;
  std::int32_t capacity = 0;
  std::int32_t count = 0;
};

}  // namespace lagscan
