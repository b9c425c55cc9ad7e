/* HeapAlloc with HEAP_GENERATE_EXCEPTIONS reports exhaustion as a structured
 * exception (STATUS_NO_MEMORY), which C++ code cannot catch. This guard turns
 * it into a null result that the caller translates into a C++ exception.
 *
 * It is C, not C++, because the guard installs the function's own
 * exception handler, and a C++ function may already need one for unwinding.
 * Only STATUS_NO_MEMORY is taken: a corrupt heap or an access fault keeps
 * going to the system. */
#include <windows.h>
#include <excpt.h>

#include "platform/windows/heap_guard.h"

/* The filter must have external linkage: the handler table names it. */
int lagscan_heap_no_memory_filter(EXCEPTION_POINTERS* exception, void* frame);

int lagscan_heap_no_memory_filter(EXCEPTION_POINTERS* exception, void* frame) {
  (void)frame;
  return exception->ExceptionRecord->ExceptionCode == STATUS_NO_MEMORY ? EXCEPTION_EXECUTE_HANDLER
                                                                       : EXCEPTION_CONTINUE_SEARCH;
}

/* noinline: the guarded range is marked by labels of fixed names, so the
 * function must exist exactly once. */
__attribute__((noinline)) void* lagscan_guarded_heap_alloc(void* heap, unsigned long long n) {
  void* volatile result = NULL;
  __try1(lagscan_heap_no_memory_filter)
  result = HeapAlloc(heap, HEAP_GENERATE_EXCEPTIONS, (SIZE_T)n);
  __except1
  return result;
}
