// 256-bit byte classes. Byte c is a member when bit (0x80 >> (c % 8)) of
// table byte c / 8 is set; bytes from 0x80 up are never members.
#pragma once

#include <cstdint>

namespace lagscan {

class char_set {
 public:
  constexpr char_set(const char* members, bool with_nul) : bits{} {
    for (const char* m = members; *m != '\0'; ++m) add(static_cast<unsigned char>(*m));
    if (with_nul) add(0);
  }
  constexpr bool contains(char c) const {
    auto u = static_cast<unsigned char>(c);
    return (bits[u >> 3] & (0x80u >> (u & 7u))) != 0;
  }
  // One past the largest member, 0 for the empty set: no byte from here on
  // is a member. At most 0x80.
  constexpr unsigned end_of_members() const {
    for (unsigned c = 0x80; c > 0; --c) {
      if (contains(static_cast<char>(c - 1))) return c;
    }
    return 0;
  }

 private:
  constexpr void add(unsigned char c) {
    if (c < 0x80) bits[c >> 3] = static_cast<std::uint8_t>(bits[c >> 3] | (0x80u >> (c & 7u)));
  }
  std::uint8_t bits[32];
};

// Space, CR, TAB and LF. Vertical tab and form feed are not spaces here.
const char_set& space_set();
// space_set plus NUL: what ends a token.
const char_set& delimiter_set();

}  // namespace lagscan
