#include "runtime/function_table.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <new>

#include "memory/block_storage.h"

namespace lagscan {
namespace {

static_assert(std::bit_cast<std::uint64_t>(log_table::entry_0) == 0xDD00CB70D24B7379);

void release_version(void* header) noexcept {
  static_cast<real_array*>(header)->~real_array();
  block_storage::free_bytes(header, real_array_header_bytes);
}

// Entries from max(1, start) to count - 1 get f(i) for the exact double of i.
template <class F>
void fill_entries(real_array& version, std::int32_t start, F f) {
  double* entry = version.buffer;
  for (std::int32_t i = std::max(1, start); i < version.count; ++i) entry[i] = f(static_cast<double>(i));
}

constinit never_destroyed<reciprocal_table> reciprocal_instance;
constinit never_destroyed<sqrt_table> sqrt_instance;
constinit never_destroyed<inv_sqrt_table> inv_sqrt_instance;
constinit never_destroyed<log_table> log_instance;

}  // namespace

void function_table::ensure() {
  if (versions.count == 0) {
    add_filled_version();
    return;
  }
  if (versions.count == 1) return;
  void* newest = versions[versions.count - 1];
  --versions.count;
  versions.destroy_owned();
  try {
    versions.append(newest);
  } catch (...) {
    release_version(newest);
    throw;
  }
}

void function_table::build() {
  omp_init_nest_lock(&lock);
  versions.capacity = 0;
  versions.count = 0;
  try {
    add_filled_version();
  } catch (...) {
    tear_down();
    throw;
  }
}

void function_table::tear_down() noexcept {
  versions.destroy_owned();
  omp_destroy_nest_lock(&lock);
}

void function_table::add_filled_version() {
  void* header = block_storage::allocate_bytes(real_array_header_bytes);
  auto* fresh = new (header) real_array();
  try {
    versions.append(header);
  } catch (...) {
    release_version(header);
    throw;
  }
  // From here the header is owned by versions; a failure takes it out again
  // so that no version without entries is left behind.
  try {
    std::int32_t n = table_size();
    fresh->reserve(n, false);
    fresh->count = n;
    fill(*fresh, 0);
  } catch (...) {
    --versions.count;
    release_version(header);
    throw;
  }
}

void reciprocal_table::fill(real_array& version, std::int32_t start) {
  double* entry = version.buffer;
  std::int32_t last = version.count - 1;
  std::int32_t i = std::max(1, start);
  // Four independent divisions per pass keep the divider busy; each is
  // still one correctly rounded division, so the values are those of one
  // division per entry.
  for (; last - i >= 3; i += 4) {
    entry[i] = 1.0 / static_cast<double>(i);
    entry[i + 1] = 1.0 / static_cast<double>(i + 1);
    entry[i + 2] = 1.0 / static_cast<double>(i + 2);
    entry[i + 3] = 1.0 / static_cast<double>(i + 3);
  }
  for (; i <= last; ++i) entry[i] = 1.0 / static_cast<double>(i);
  entry[0] = 0.0;
}

void sqrt_table::fill(real_array& version, std::int32_t start) {
  fill_entries(version, start, [](double x) { return std::sqrt(x); });
  version.buffer[0] = 0.0;
}

void inv_sqrt_table::fill(real_array& version, std::int32_t start) {
  fill_entries(version, start, [](double x) { return 1.0 / std::sqrt(x); });
  version.buffer[0] = 0.0;
}

void log_table::fill(real_array& version, std::int32_t start) {
  fill_entries(version, start, [](double x) { return std::log(x); });
  version.buffer[0] = entry_0;
}

namespace process_tables {
reciprocal_table& reciprocal() { return reciprocal_instance.get(); }
sqrt_table& square_root() { return sqrt_instance.get(); }
inv_sqrt_table& inverse_square_root() { return inv_sqrt_instance.get(); }
log_table& logarithm() { return log_instance.get(); }
}  // namespace process_tables

}  // namespace lagscan
