#include "memory/size_limit_error.h"

namespace lagscan {

// Out of line: the raise costs nothing on the paths that check the limit.
void raise_text_too_large() { throw size_limit_error("Text too large"); }
void raise_array_too_large() { throw size_limit_error("Array too large"); }

}  // namespace lagscan
