// Tables of 1/i, sqrt(i), 1/sqrt(i) and ln i for whole numbers i, filled once
// at start-up. A table keeps one or more versions; the newest, the last one
// in versions, is the one ensure keeps.
//
// Each version is a real_array of table_size() entries whose 16-byte header
// comes from block_storage::allocate_bytes(16). Entry 0 holds a finite value
// where the function has none (0.0, or -1e140 for ln 0).
#pragma once

#include <omp.h>

#include <cstdint>

#include "memory/arrays.h"
#include "runtime/never_destroyed.h"

namespace lagscan {

class function_table {
 public:
  static constexpr std::int32_t default_size = 8192;

  constexpr function_table() noexcept = default;
  function_table(const function_table&) = delete;
  function_table& operator=(const function_table&) = delete;

  // Leaves exactly one filled version: builds one when there is none, and
  // of several keeps only the newest.
  virtual void ensure();
  // Writes entries max(1, start) ... count - 1 of version, then entry 0.
  // The version's storage must hold at least one entry.
  virtual void fill(real_array& version, std::int32_t start) = 0;
  virtual std::int32_t table_size() const { return default_size; }

  // Initialises the lock and adds the first filled version. On failure the
  // table is torn down again and the error goes on.
  void build();
  // Releases every version, their headers and versions' own block, and the
  // lock. Only after build.
  void tear_down() noexcept;

  real_array& version(std::int32_t i) { return *static_cast<real_array*>(versions[i]); }

  // Initialised and destroyed with the table; no operation takes it.
  omp_nest_lock_t lock{};
  // Owned real_array headers, newest last.
  pointer_array versions;

 protected:
  // Tear-down is tear_down, never a destructor through the base.
  ~function_table() = default;

 private:
  void add_filled_version();
};

class reciprocal_table final : public function_table {
 public:
  void fill(real_array& version, std::int32_t start) override;
};

class sqrt_table final : public function_table {
 public:
  void fill(real_array& version, std::int32_t start) override;
};

class inv_sqrt_table final : public function_table {
 public:
  void fill(real_array& version, std::int32_t start) override;
};

class log_table final : public function_table {
 public:
  // ln 0 would be -infinity.
  static constexpr double entry_0 = -1e140;

  void fill(real_array& version, std::int32_t start) override;
};

// The process-wide tables that start-up builds.
namespace process_tables {
reciprocal_table& reciprocal();
sqrt_table& square_root();
inv_sqrt_table& inverse_square_root();
log_table& logarithm();
}  // namespace process_tables

}  // namespace lagscan
