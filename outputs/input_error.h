// A fault in what lagscan-matrix was given to read (a packed set, a part of
// a tiled run): its message names the file and says what is wrong with it.
#pragma once

#include <stdexcept>

namespace lagscan::matrix {

struct input_error : std::runtime_error {
  using std::runtime_error::runtime_error;
};

}  // namespace lagscan::matrix
