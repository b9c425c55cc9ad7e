/* HeapAlloc(heap, HEAP_GENERATE_EXCEPTIONS, n) that answers null when the
 * heap is exhausted instead of raising STATUS_NO_MEMORY. Any other
 * structured exception passes through. */
#ifndef LAGSCAN_PLATFORM_WINDOWS_HEAP_GUARD_H
#define LAGSCAN_PLATFORM_WINDOWS_HEAP_GUARD_H

#ifdef __cplusplus
extern "C" {
#endif

void* lagscan_guarded_heap_alloc(void* heap, unsigned long long n);

#ifdef __cplusplus
}
#endif

#endif
