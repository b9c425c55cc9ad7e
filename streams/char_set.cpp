#include "streams/char_set.h"

namespace lagscan {

const char_set& space_set() {
  static constexpr char_set set(" \r\t\n", false);
  return set;
}

const char_set& delimiter_set() {
  static constexpr char_set set(" \r\t\n", true);
  return set;
}

}  // namespace lagscan
