// --center: each file's mean taken off its values before any sum, so that
// files on different baselines compare by their shapes alone.
//
// The mean is the sum of the values in the order the file holds them,
// added with compensation (Neumaier's: the rounding error of each addition
// is carried in a second sum and added at the end), divided by the count.
// Each value then becomes value - mean, one rounding. The result depends on
// nothing but the file's values, on any system and thread count; a file
// holding the centred values (written with 17 digits) gives lagscan the same
// sums, so its value is the centred one to the bit.
#pragma once

#include "memory/arrays.h"

namespace lagscan::matrix {

// The mean of the values, as above; 0 for no values.
double mean_of(const real_array& values);

// Takes the mean off every value.
void center_values(real_array& values);

}  // namespace lagscan::matrix
