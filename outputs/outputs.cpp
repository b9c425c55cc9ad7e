// The outputs of lagscan-matrix over their writers (table.h, groups.h,
// heatmap.h).
#include <memory>
#include <string>

#include "outputs/heatmap.h"
#include "outputs/output.h"

namespace lagscan::matrix {
namespace {

class table_writer final : public output {
 public:
  using output::output;
  stage when() const override { return stage::before_tree; }

 private:
  void write_to(std::FILE* out, const pair_values& v) override {
    if (!v.reference.empty()) {
      write_against(out, v.reference, v.names, v.values, v.table);
    } else {
      write_all_pairs(out, v.names, v.values, v.rows.first, v.rows.end, v.table);
    }
  }
};

class groups_writer final : public output {
 public:
  using output::output;
  stage when() const override { return stage::from_tree; }

 private:
  void write_to(std::FILE* out, const pair_values& v) override { write_groups(out, v.names, *v.groups); }
};

class tree_writer final : public output {
 public:
  using output::output;
  stage when() const override { return stage::from_tree; }

 private:
  void write_to(std::FILE* out, const pair_values& v) override { write_tree(out, *v.tree); }
};

class heatmap_writer final : public output {
 public:
  using output::output;
  stage when() const override { return stage::last; }

 private:
  void write_to(std::FILE* out, const pair_values& v) override {
    write_heatmap(out, v.names, v.values, v.s, *v.tree, v.groups);
  }
};

}  // namespace

std::unique_ptr<output> table_output(const std::string& path) { return std::make_unique<table_writer>(path); }
std::unique_ptr<output> groups_output(const std::string& path) { return std::make_unique<groups_writer>(path); }
std::unique_ptr<output> tree_output(const std::string& path) { return std::make_unique<tree_writer>(path); }
std::unique_ptr<output> heatmap_output(const std::string& path) { return std::make_unique<heatmap_writer>(path); }

}  // namespace lagscan::matrix
