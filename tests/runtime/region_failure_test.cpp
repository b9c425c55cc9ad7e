// region_failure carries the first exception out of a parallel region to
// the thread that started it, instead of ending the process.
#include "runtime/region_failure.h"

#include <gtest/gtest.h>
#include <omp.h>

#include <new>
#include <stdexcept>
#include <vector>

namespace lagscan {
namespace {

TEST(region_failure, carries_an_exception_out_of_a_region_and_every_iteration_still_runs) {
  region_failure failure;
  std::vector<int> ran(64, 0);
#pragma omp parallel for num_threads(4) schedule(dynamic, 1)
  for (int i = 0; i < 64; ++i) {
    failure.run([&] {
      ran[static_cast<std::size_t>(i)] = 1;
      if (i % 7 == 3) throw std::bad_alloc();
    });
  }
  EXPECT_TRUE(failure.failed());
  EXPECT_THROW(failure.raise(), std::bad_alloc);
  EXPECT_EQ(ran, std::vector<int>(64, 1));
}

TEST(region_failure, keeps_one_of_several_kinds_and_raises_nothing_without_a_failure) {
  region_failure failure;
#pragma omp parallel for num_threads(4) schedule(static, 1)
  for (int i = 0; i < 8; ++i) {
    failure.run([&] {
      if (i == 2) throw std::runtime_error("two");
      if (i == 5) throw std::bad_alloc();
    });
  }
  try {
    failure.raise();
    ADD_FAILURE() << "raised nothing";
  } catch (const std::runtime_error& error) {
    EXPECT_STREQ(error.what(), "two");
  } catch (const std::bad_alloc&) {
  }
  region_failure none;
#pragma omp parallel for num_threads(4)
  for (int i = 0; i < 8; ++i) none.run([] {});
  EXPECT_FALSE(none.failed());
  EXPECT_NO_THROW(none.raise());
}

}  // namespace
}  // namespace lagscan
