// Byte tests on sixteen bytes at once, for the loader's passes over whole
// files. SSE2 only: the x86-64 baseline, which the lag sums rely on too.
//
// A "lane mask" holds 0xFF in each selected byte and 0 elsewhere; bits()
// turns it into one bit per byte, bit i for the byte at offset i.
#pragma once

#include <emmintrin.h>

#include <cstdint>

namespace lagscan::byte_scan {

inline constexpr std::int32_t block_bytes = 16;

// The sixteen bytes at p, in any alignment.
inline __m128i load_bytes(const char* p) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p)); }

inline void store_bytes(char* p, __m128i bytes) { _mm_storeu_si128(reinterpret_cast<__m128i*>(p), bytes); }

inline __m128i equal(__m128i bytes, char c) { return _mm_cmpeq_epi8(bytes, _mm_set1_epi8(c)); }

// The bytes below bound as unsigned values (1 <= bound <= 0xFF): those whose
// minimum with bound - 1 is themselves.
inline __m128i below(__m128i bytes, std::uint8_t bound) {
  return _mm_cmpeq_epi8(_mm_min_epu8(bytes, _mm_set1_epi8(static_cast<char>(bound - 1))), bytes);
}

inline unsigned bits(__m128i lanes) { return static_cast<unsigned>(_mm_movemask_epi8(lanes)); }

// c in the selected bytes, the bytes themselves elsewhere.
inline __m128i replace(__m128i bytes, __m128i lanes, char c) {
  return _mm_or_si128(_mm_andnot_si128(lanes, bytes), _mm_and_si128(lanes, _mm_set1_epi8(c)));
}

}  // namespace lagscan::byte_scan
