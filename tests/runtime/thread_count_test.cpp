#include "runtime/thread_count.h"

#include <gtest/gtest.h>
#include <omp.h>

#include <climits>
#include <string>

#include "support/temp_dir.h"
#include "storage_count.h"

namespace lagscan {
namespace {

TEST(resolve_thread_count, lowers_to_the_maximum_and_reads_zero_as_all) {
  struct {
    std::int32_t configured, maximum, expected;
  } const cases[] = {
      {0, 8, 8},   {3, 8, 3},   {8, 8, 8},  {9, 8, 8},    {INT32_MAX, 8, 8}, {1, 1, 1},
      {-2, 8, 6},  {-7, 8, 1},  {-8, 8, 1}, {-100, 8, 1}, {INT32_MIN, 8, 1},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(resolve_thread_count(c.configured, c.maximum), c.expected)
        << "configured " << c.configured << ", maximum " << c.maximum;
  }
}

TEST(max_num_threads, is_settled_and_leaves_the_runtime_at_one_thread) {
  std::int32_t count = max_num_threads();
  EXPECT_GE(count, 1);
  EXPECT_EQ(max_num_threads(), count);
  EXPECT_EQ(omp_get_max_threads(), 1);
}

TEST(file_exists, answers_whether_the_file_opens_for_update_and_keeps_no_storage) {
  testing::temp_dir dir;
  dir.write("present.txt", "3");
  dir.write("read_only.txt", "3");
  testing::make_read_only(dir.path() / "read_only.txt");
  struct {
    std::string name;
    int expected;
  } const cases[] = {{"present.txt", 1}, {"read_only.txt", 0}, {"missing.txt", 0}, {"", 0} /* the directory itself */};
  for (const auto& c : cases) {
    std::string path = (dir.path() / c.name).string();
    std::int64_t before = testing::outstanding_blocks();
    EXPECT_EQ(file_exists({path.data(), path.data() + path.size()}), c.expected) << c.name;
    EXPECT_EQ(testing::outstanding_blocks(), before) << c.name << ": the probe's error and file are released";
  }
}

}  // namespace
}  // namespace lagscan
