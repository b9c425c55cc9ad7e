// What the calls on many sequences share: the host's sets seen as our
// arrays (or centred copies of them), the progress function as the matrix
// values' meter, and one way to visit the pairs of a set with the bits the
// table of all pairs gives them, without forming that table.
#pragma once

#include <cstddef>
#include <functional>
#include <span>
#include <vector>

#include "lagscan/lagscan.hpp"
#include "matrix/progress.h"
#include "memory/arrays.h"

namespace lagscan::api {

// The host's sequences, all of `count` values, as our arrays: views of the
// host's values (capacity 0, they free nothing), or with `center` copies in
// our heap with each one's mean taken off as lagscan-matrix --center takes
// it. std::invalid_argument with the command's words for another count,
// std::length_error beyond our arrays' limit.
class input_sets {
 public:
  input_sets(sequences sets, std::size_t count, bool center);
  input_sets(const input_sets&) = delete;
  input_sets& operator=(const input_sets&) = delete;
  const std::vector<const real_array*>& pointers() const { return pointers_; }
  std::size_t size() const { return pointers_.size(); }

 private:
  std::vector<real_array> arrays_;
  std::vector<const real_array*> pointers_;
};

// The length every set of a call must have: the first one's, 0 for none.
std::size_t common_count(sequences sets);
std::size_t common_count(sequences a, sequences b);

// The library's progress function seen as the matrix values' meter.
class call_meter {
 public:
  explicit call_meter(const progress_function& progress);
  matrix::progress_meter& get() { return meter_; }
  // After the work: what the progress function threw, or cancelled when it
  // asked to stop.
  void check() const;

 private:
  matrix::progress_meter meter_;
};

// Hands every pair (x, y), x < y, of `sets` to put(x, y, value) once, with
// the bits all_pairs gives entry (x, y) for the whole set (with `fast`,
// those of the window sums' grid of the whole set, the pairs of a set
// outside its domain formed exactly). With split > 0 only the pairs
// x < split <= y: set A (the first `split`) against set B (the rest).
// put is called from up to `threads` threads at once, on pairs that differ;
// omp_get_thread_num() tells its thread, below `threads`. It must not throw
// nor take storage. Once the meter stops, no more pairs are handed out.
using pair_sink = std::function<void(std::size_t, std::size_t, double)>;
void visit_pairs(const real_array& window, const std::vector<const real_array*>& sets, std::size_t split, bool fast,
                 int threads, matrix::progress_meter& meter, const pair_sink& put);

}  // namespace lagscan::api
