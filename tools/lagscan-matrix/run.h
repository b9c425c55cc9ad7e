// Carrying out a plan: load, centre, compute, then hand the values to each
// output.
#pragma once

#include "tools/lagscan-matrix/plan.h"

namespace lagscan::matrix {

// The status to end with; a failure, input_error or output_error when the
// run cannot go on.
int run(const plan& p);

}  // namespace lagscan::matrix
