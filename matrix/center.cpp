#include "matrix/center.h"

#include <cmath>

namespace lagscan::matrix {

double mean_of(const real_array& values) {
  if (values.count == 0) return 0.0;
  double sum = 0.0;
  double lost = 0.0;  // what the additions rounded away
  for (double v : values) {
    const double next = sum + v;
    lost += std::fabs(sum) >= std::fabs(v) ? (sum - next) + v : (v - next) + sum;
    sum = next;
  }
  return (sum + lost) / static_cast<double>(values.count);
}

void center_values(real_array& values) {
  const double mean = mean_of(values);
  for (double& v : values) v -= mean;
}

}  // namespace lagscan::matrix
