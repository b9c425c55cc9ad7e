// The lag sum as an inner product of window sums, for --fast.
//
// With h = (s-1)/2, the triangular weights h + 1 - |m| are a box of width
// h + 1 correlated with itself, so for sequences X, Y of length n
//
//   C(W; X, Y) = sum over k = 0 .. n-1+h of Xs[k] * Ys[k],
//   Xs[k] = X[max(0, k-h)] + ... + X[min(n-1, k)],
//
// for every h, h >= n included. One file's window sums cost O(n + h), and a
// pair then costs one inner product. The additions run in another order than
// lagscan's, so the values agree with it to rounding, not to the bit.
//
// When h >= n - 1 the window covers the whole sequence for k = n-1 .. h: the
// same total, h - n + 2 times. That run is kept as one entry, the total times
// sqrt(h - n + 2), so that a vector never holds more than 2n - 1 entries and
// a very wide window costs no more than h = n - 1.
#pragma once

#include <cstddef>
#include <cstdint>

namespace lagscan::matrix {

// The entries of the window-sum vector of a sequence of n values at half
// width h: n + h, or 2n - 1 when h >= n - 1 (0 for n = 0).
std::size_t window_sum_length(std::int64_t n, std::int64_t h);

// Writes the window-sum vector of x[0..n) into out (window_sum_length
// entries). Each entry lies within about one unit in the last place of the
// exact window sum: the running sum carries its own rounding errors along
// (compensated), so values on a large offset, whose windows differ in their
// last digits only, keep those digits however long the sequence.
void window_sums(const double* x, std::int64_t n, std::int64_t h, double* out);

// sum of a[k] * b[k], k < length: blocks of 64 products in four partial
// sums, the blocks' sums added with compensation. The error stays near
// 20 units in the last place of sum |a[k] * b[k]| however long the vectors.
double accurate_dot(const double* a, const double* b, std::size_t length);

// The plain running sum (add the entering value, subtract the leaving one)
// that window_sums improves on; for the tests, to show what it loses.
void window_sums_uncompensated(const double* x, std::int64_t n, std::int64_t h, double* out);

}  // namespace lagscan::matrix
