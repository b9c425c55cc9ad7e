#include "runtime/function_table.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <functional>
#include <limits>
#include <new>
#include <ostream>
#include <string>
#include <tuple>
#include <stdexcept>

#include "memory/block_storage.h"
#include "memory/storage_counters.h"
#include "storage_count.h"

namespace lagscan {
namespace {

// A NaN that no fill produces: shows which entries a fill left alone.
const double untouched = std::bit_cast<double>(std::uint64_t{0x7FF8DEADBEEF0001});

bool is_untouched(double x) { return std::bit_cast<std::uint64_t>(x) == std::bit_cast<std::uint64_t>(untouched); }
bool same_bits(double a, double b) { return std::bit_cast<std::uint64_t>(a) == std::bit_cast<std::uint64_t>(b); }

enum class kind { reciprocal, square_root, inverse_square_root, logarithm };

struct table_case {
  const char* name;
  kind which;
  std::function<double(double)> f;
  double entry_0;
};

void PrintTo(const table_case& c, std::ostream* os) { *os << c.name; }

// One table of each kind, so that a case can pick its own.
struct one_of_each {
  function_table& operator[](kind which) {
    switch (which) {
      case kind::reciprocal: return reciprocal;
      case kind::square_root: return square_root;
      case kind::inverse_square_root: return inverse_square_root;
      case kind::logarithm: break;
    }
    return logarithm;
  }
  reciprocal_table reciprocal;
  sqrt_table square_root;
  inv_sqrt_table inverse_square_root;
  log_table logarithm;
};

const table_case table_cases[] = {
    {"reciprocal", kind::reciprocal, [](double x) { return 1.0 / x; }, 0.0},
    {"square_root", kind::square_root, [](double x) { return std::sqrt(x); }, 0.0},
    {"inverse_square_root", kind::inverse_square_root, [](double x) { return 1.0 / std::sqrt(x); }, 0.0},
    {"logarithm", kind::logarithm, [](double x) { return std::log(x); }, -1e140},
};

// A version outside any table, every entry of its storage untouched.
struct loose_version {
  explicit loose_version(std::int32_t storage, std::int32_t count) {
    v.reserve(storage, false);
    v.count = count;
    for (std::int32_t i = 0; i < v.capacity; ++i) v.buffer[i] = untouched;
  }
  real_array v;
};

// Where every entry of a version stands after a fill from start: entry 0
// holds the table's own value, entries from max(1, start) below count its
// function, and every other entry of the storage is untouched. Answers the
// first entry that differs, or -1.
std::int32_t first_wrong_entry(const real_array& v, std::int32_t storage, std::int32_t start, const table_case& c) {
  if (!same_bits(v[0], c.entry_0)) return 0;
  const std::int32_t first = std::max(1, start);
  for (std::int32_t i = 1; i < storage; ++i) {
    bool filled = i >= first && i < v.count;
    if (filled ? !same_bits(v[i], c.f(static_cast<double>(i))) : !is_untouched(v[i])) return i;
  }
  return -1;
}

class build_of_each_table : public ::testing::TestWithParam<table_case> {};

TEST_P(build_of_each_table, gives_one_version_with_every_entry_of_its_function) {
  const table_case& c = GetParam();
  one_of_each tables;
  function_table* table = &tables[c.which];
  table->build();
  ASSERT_EQ(table->versions.count, 1);
  EXPECT_EQ(table->versions.capacity, 8);  // the first append's growth
  real_array& v = table->version(0);
  ASSERT_EQ(v.count, 8192);
  EXPECT_EQ(first_wrong_entry(v, v.count, 1, c), -1);
  table->tear_down();
}

INSTANTIATE_TEST_SUITE_P(tables, build_of_each_table, ::testing::ValuesIn(table_cases),
                         [](const auto& p) { return std::string(p.param.name); });

struct fill_case {
  const char* name;
  std::int32_t storage;
  std::int32_t count;
  std::int32_t start;
};

void PrintTo(const fill_case& c, std::ostream* os) { *os << c.name; }

// A fill from a start above 1 rewrites only from there (and entry 0); a
// start of 1 or below starts at entry 1; counts around the loop of four
// entries per pass and its tail show that nothing at or past count is
// written.
const fill_case fill_cases[] = {
    {"from_100", 8192, 8192, 100},
    {"from_0", 16, 16, 0},
    {"from_minus_5", 16, 16, -5},
    {"from_the_least_int", 16, 16, std::numeric_limits<std::int32_t>::min()},
    {"count_1", 4, 1, 0},
    {"count_2", 5, 2, 0},
    {"count_4", 7, 4, 0},
    {"count_5", 8, 5, 0},
    {"count_6", 9, 6, 0},
    {"count_7", 10, 7, 0},
    {"count_8", 11, 8, 0},
    {"count_9", 12, 9, 0},
    {"count_13", 16, 13, 0},
};

class fill_of_each_table : public ::testing::TestWithParam<std::tuple<table_case, fill_case>> {};

TEST_P(fill_of_each_table, writes_entry_0_and_exactly_the_entries_from_start_below_count) {
  const auto& [c, f] = GetParam();
  one_of_each tables;
  loose_version lv(f.storage, f.count);
  ASSERT_EQ(lv.v.capacity, f.storage);
  tables[c.which].fill(lv.v, f.start);
  EXPECT_EQ(first_wrong_entry(lv.v, f.storage, f.start, c), -1);
}

INSTANTIATE_TEST_SUITE_P(tables, fill_of_each_table,
                         ::testing::Combine(::testing::ValuesIn(table_cases), ::testing::ValuesIn(fill_cases)),
                         [](const auto& p) {
                           return std::string(std::get<0>(p.param).name) + "_" + std::get<1>(p.param).name;
                         });

struct entry_case {
  kind which;
  std::int32_t index;
  double expected;
};

TEST(function_table_entries, known_values_are_exact) {
  const entry_case cases[] = {
      {kind::reciprocal, 0, +0.0},         {kind::reciprocal, 1, 1.0},
      {kind::reciprocal, 2, 0.5},          {kind::reciprocal, 8191, 1.0 / 8191},
      {kind::square_root, 0, +0.0},        {kind::square_root, 4, 2.0},
      {kind::square_root, 2, 0x1.6a09e667f3bcdp+0},  // sqrt(2) rounded to nearest
      {kind::inverse_square_root, 0, +0.0}, {kind::inverse_square_root, 4, 0.5},
      {kind::logarithm, 1, +0.0},          {kind::logarithm, 0, -1e140},
  };
  for (const entry_case& c : cases) {
    one_of_each tables;
  function_table* table = &tables[c.which];
    table->build();
    EXPECT_TRUE(same_bits(table->version(0)[c.index], c.expected))
        << "table " << static_cast<int>(c.which) << " entry " << c.index;
    table->tear_down();
  }
  EXPECT_EQ(std::bit_cast<std::uint64_t>(log_table::entry_0), 0xDD00CB70D24B7379u);
}

// Appends a filled version as the table itself would, to reach several.
real_array* add_version(function_table& t) {
  auto* v = new (block_storage::allocate_bytes(16)) real_array();
  v->reserve(t.table_size(), false);
  v->count = t.table_size();
  t.fill(*v, 0);
  t.versions.append(v);
  return v;
}

TEST(function_table_ensure, one_version_is_left_as_it_is) {
  log_table t;
  t.build();
  void* header = t.versions[0];
  double* entries = t.version(0).buffer;
  std::int64_t before = testing::outstanding_blocks();
  t.ensure();
  EXPECT_EQ(t.versions.count, 1);
  EXPECT_EQ(t.versions[0], header);
  EXPECT_EQ(t.version(0).buffer, entries);
  EXPECT_EQ(testing::outstanding_blocks(), before);
  t.tear_down();
}

TEST(function_table_ensure, three_versions_keep_only_the_newest_and_release_the_others) {
  sqrt_table t;
  t.build();
  add_version(t);
  real_array* newest = add_version(t);
  double* newest_entries = newest->buffer;
  const block_storage::counters before = block_storage::thread_counters();
  t.ensure();
  const block_storage::counters& after = block_storage::thread_counters();
  ASSERT_EQ(t.versions.count, 1);
  EXPECT_EQ(t.versions[0], newest);
  EXPECT_EQ(t.version(0).buffer, newest_entries);
  EXPECT_EQ(t.versions.capacity, 8);
  EXPECT_EQ(after.pool_returns[2] - before.pool_returns[2], 2u);  // the two older headers
  EXPECT_EQ(after.heap_returns - before.heap_returns, 2u);        // their 64 KiB of entries
  // versions itself moved to a fresh block of 8 pointers.
  EXPECT_EQ(after.pool_returns[8] - before.pool_returns[8], 1u);
  EXPECT_EQ(after.pool_takes[8] - before.pool_takes[8], 1u);
  t.tear_down();
}

TEST(function_table_ensure, empty_table_gets_a_new_filled_version) {
  inv_sqrt_table t;
  omp_init_nest_lock(&t.lock);
  const block_storage::counters before = block_storage::thread_counters();
  t.ensure();
  const block_storage::counters& after = block_storage::thread_counters();
  ASSERT_EQ(t.versions.count, 1);
  EXPECT_EQ(after.pool_takes[2] - before.pool_takes[2], 1u);  // the header's 16-byte block
  real_array& v = t.version(0);
  ASSERT_EQ(v.count, 8192);
  EXPECT_EQ(v[4], 0.5);
  EXPECT_EQ(v[8191], 1.0 / std::sqrt(8191.0));
  t.tear_down();
}

TEST(function_table_tear_down, returns_every_block_the_table_took) {
  std::int64_t before = testing::outstanding_blocks();
  reciprocal_table t;
  t.build();
  add_version(t);
  EXPECT_GT(testing::outstanding_blocks(), before);
  t.tear_down();
  EXPECT_EQ(testing::outstanding_blocks(), before);
  EXPECT_EQ(t.versions.count, 0);
  EXPECT_EQ(t.versions.capacity, 0);
}

// A table whose size and failure the test chooses, to reach the paths that
// the four real tables never take.
class test_table final : public function_table {
 public:
  explicit test_table(std::int32_t size, bool fails) : size_(size), fails_(fails) {}
  void fill(real_array& version, std::int32_t start) override {
    if (fails_) throw std::runtime_error("fill failed");
    for (std::int32_t i = std::max(1, start); i < version.count; ++i) version[i] = i;
    version[0] = -1;
  }
  std::int32_t table_size() const override { return size_; }

 private:
  std::int32_t size_;
  bool fails_;
};

TEST(function_table_ensure, new_version_has_table_size_entries) {
  test_table t(5, false);
  t.build();
  ASSERT_EQ(t.version(0).count, 5);
  EXPECT_EQ(t.version(0)[4], 4.0);
  EXPECT_EQ(t.version(0)[0], -1.0);
  t.tear_down();
}

TEST(function_table_build, failing_fill_leaves_no_version_and_no_storage) {
  std::int64_t before = testing::outstanding_blocks();
  test_table t(5, true);
  EXPECT_THROW(t.build(), std::runtime_error);
  EXPECT_EQ(t.versions.count, 0);
  EXPECT_EQ(t.versions.capacity, 0);
  EXPECT_EQ(testing::outstanding_blocks(), before);
}

TEST(function_table_ensure, failing_fill_leaves_the_table_empty) {
  std::int64_t before = testing::outstanding_blocks();
  test_table t(5, true);
  omp_init_nest_lock(&t.lock);
  EXPECT_THROW(t.ensure(), std::runtime_error);
  EXPECT_EQ(t.versions.count, 0);
  t.tear_down();
  EXPECT_EQ(testing::outstanding_blocks(), before);
}

}  // namespace
}  // namespace lagscan
