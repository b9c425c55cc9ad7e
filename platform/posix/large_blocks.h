// Large blocks of the POSIX process heap, mapped straight from the system so
// that they can be backed by 2 MiB pages: a block of several MiB is then
// faulted in a few hundred times fewer steps than with 4 KiB pages (Linux
// systems often give transparent huge pages only on request, which blocks
// below a GiB make).
#pragma once

#include <cstdint>

namespace lagscan::platform::large_blocks {

// Blocks of this size and more are mapped.
inline constexpr std::uint64_t smallest = std::uint64_t{2} << 20;

// Bytes before each block that belong to its mapping, for a header.
inline constexpr std::uint64_t room_before = 4096;

// At least n bytes starting on a 2 MiB boundary, preceded by room_before
// bytes of the same mapping; null when the system refuses.
void* map(std::uint64_t n) noexcept;

// Gives back a block that map(n) returned.
void unmap(void* block, std::uint64_t n) noexcept;

}  // namespace lagscan::platform::large_blocks
