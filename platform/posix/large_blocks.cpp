#include "platform/posix/large_blocks.h"

#include <sys/mman.h>

namespace lagscan::platform::large_blocks {
namespace {

constexpr std::uint64_t huge_page = std::uint64_t{2} << 20;
constexpr std::uint64_t small_page = room_before;
constexpr std::uint64_t most_advised = std::uint64_t{1} << 30;

std::uint64_t round_up(std::uint64_t n, std::uint64_t unit) { return (n + unit - 1) / unit * unit; }

// The block's bytes in whole huge pages: the last one is then backed by a
// huge page too instead of by up to 511 small ones.
std::uint64_t body_bytes(std::uint64_t n) { return round_up(n, huge_page); }

}  // namespace

void* map(std::uint64_t n) noexcept {
  const std::uint64_t body = body_bytes(n);
  // A mapping starts on a small page; this much more holds a huge-page
  // boundary with a small page (the room before the block) ahead of it.
  const std::uint64_t mapped = small_page + body + (huge_page - small_page);
  void* raw = mmap(nullptr, mapped, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (raw == MAP_FAILED) return nullptr;
  const auto start = reinterpret_cast<std::uintptr_t>(raw);
  const std::uintptr_t block = round_up(start + small_page, huge_page);
  const std::uintptr_t kept_begin = block - small_page;
  const std::uintptr_t kept_end = block + body;
  if (kept_begin > start) munmap(raw, kept_begin - start);
  if (start + mapped > kept_end) munmap(reinterpret_cast<void*>(kept_end), start + mapped - kept_end);
  // Only advice: without huge pages the block is an ordinary mapping. Blocks
  // of a GiB and more go without: gathering that many huge pages at once
  // cost more system time than the small pages' faults (an 8 GiB window
  // took about 1.6 times the system time with them).
  if (body < most_advised) madvise(reinterpret_cast<void*>(block), body, MADV_HUGEPAGE);
  return reinterpret_cast<void*>(block);
}

void unmap(void* block, std::uint64_t n) noexcept {
  munmap(static_cast<char*>(block) - small_page, small_page + body_bytes(n));
}

}  // namespace lagscan::platform::large_blocks
