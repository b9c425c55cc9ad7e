// The weighted lag correlation of two sequences.
//
//   C(W; X, Y) = sum over m = -h..h of W[h+m] * sum over i of X[i] * Y[i+m]
//
// with h = (s-1)/2 for a window W of odd width s, i running over the indices
// where both X[i] and Y[i+m] exist, and
//
//   lag_correlation(W, A, B) = C(W; A, B) / sqrt(|C(W; B, B) * C(W; A, A)|)
//
// (divided by 1e-100 instead when that root is not above it).
//
// Every sum is formed in one fixed order so that the result is the same to
// the last bit everywhere: per lag, four partial sums p0..p3 over the
// products X[lo+k+r] * Y[lo+k+r+m] (r = k mod 4), combined as
// (p0 + p2) + (p1 + p3), then the remaining products added one by one; the
// weight multiplies the finished lag sum; lags are added in ascending order.
#pragma once

#include "memory/arrays.h"

namespace lagscan {

// Fills the count(W) elements of W with the triangular weights
// 1, 2, ..., h+1, ..., 2, 1. count(W) must be odd and at least 1.
void make_triangle_window(real_array& w);

// C(W; X, Y); Y must hold at least count(X) elements. Takes the fastest
// path of lag_kernels.h.
double lag_product_sum(const real_array& w, const real_array& x, const real_array& y);

// C(W; X, Y) one lag at a time, exactly as the order above reads: the
// reference that every faster path must match to the bit.
double lag_product_sum_reference(const real_array& w, const real_array& x, const real_array& y);

// The unweighted lag sums of C(W; X, Y) for the lags m = -reach .. reach
// into sums[reach + m] (see unweighted_lag_sums_on): on the fastest path, and one lag
// at a time in the reference order. reach < count(X).
void unweighted_lag_sums(const real_array& x, const real_array& y, std::int64_t reach, double* sums);
void unweighted_lag_sums_reference(const real_array& x, const real_array& y, std::int64_t reach, double* sums);

// The lag sums of lags first .. first + count - 1 into sums[0 .. count - 1],
// one lag at a time in the reference order; every lag overlaps.
void lag_sums_reference(const real_array& x, const real_array& y, std::int64_t first, std::int64_t count,
                        double* sums);

// C(W; A, B) / sqrt(|C(W; B, B) * C(W; A, A)|): the three sums, then
// normalised_correlation.
double lag_correlation(const real_array& w, const real_array& a, const real_array& b);

// The division that ends lag_correlation, for callers that form the three
// sums themselves (each sequence's own sum once, for many pairs): c_ab over
// the root of |c_bb * c_aa|, or over 1e-100 when that root is not above it.
double normalised_correlation(double c_ab, double c_aa, double c_bb);

}  // namespace lagscan
