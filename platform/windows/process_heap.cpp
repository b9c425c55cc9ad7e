#include "platform/process_heap.h"

#include <windows.h>

#include "platform/windows/heap_guard.h"

namespace lagscan::platform {

heap_handle process_heap() noexcept { return GetProcessHeap(); }

heap_calls& thread_heap_calls() noexcept {
  thread_local constinit heap_calls calls{};
  return calls;
}

// HeapSize answers exactly the requested size, so no size record is kept,
// and the process heap aligns every block to 16 bytes on 64-bit Windows.
void* heap_allocate(std::uint64_t n) {
  if (n > largest_request) throw out_of_storage();
  void* p = lagscan_guarded_heap_alloc(GetProcessHeap(), n);
  if (p == nullptr) throw out_of_storage();
  ++thread_heap_calls().allocations;
  return p;
}

std::uint64_t heap_block_size(const void* p) noexcept {
  return HeapSize(GetProcessHeap(), 0, p);
}

void heap_release(void* p) noexcept {
  if (p == nullptr) return;
  ++thread_heap_calls().releases;
  HeapFree(GetProcessHeap(), 0, p);
}

}  // namespace lagscan::platform
