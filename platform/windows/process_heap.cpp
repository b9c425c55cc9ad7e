#include "platform/process_heap.h"

#include <windows.h>

#include "platform/heap_instruments.h"
#include "platform/windows/heap_guard.h"

namespace lagscan::platform {

heap_handle process_heap() noexcept { return GetProcessHeap(); }

// HeapSize answers exactly the requested size, so no size record is kept,
// and the process heap aligns every block to 16 bytes on 64-bit Windows.
// Windows does not overcommit: a block it grants is backed by memory or the
// page file, so no limit of the machine's is checked here.
void* heap_allocate(std::uint64_t n) {
  if (n > largest_request || instruments::take_injected_failure()) throw out_of_storage();
  void* p = lagscan_guarded_heap_alloc(GetProcessHeap(), n);
  if (p == nullptr) throw out_of_storage();
  instruments::count_allocation();
  return p;
}

std::uint64_t heap_block_size(const void* p) noexcept {
  return HeapSize(GetProcessHeap(), 0, p);
}

void heap_release(void* p) noexcept {
  if (p == nullptr) return;
  instruments::count_release();
  HeapFree(GetProcessHeap(), 0, p);
}

}  // namespace lagscan::platform
