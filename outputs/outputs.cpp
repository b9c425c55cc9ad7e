// The outputs of lagscan-matrix over their writers (table.h, groups.h,
// heatmap.h).
#include <memory>
#include <string>

#include "outputs/heatmap.h"
#include "outputs/output.h"
#include "outputs/report.h"

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

// The report page: all pairs' from the tree, like the heat map; --against's
// (no tree) before it, with the table.
class report_writer final : public output {
 public:
  report_writer(const std::string& path, bool ranked) : output(path), ranked_(ranked) {}
  stage when() const override { return ranked_ ? stage::before_tree : stage::last; }

 private:
  void write_to(std::FILE* out, const pair_values& v) override {
    report_input page;
    page.s = v.s;
    page.digits = v.table.digits;
    page.fast = v.fast;
    page.center = v.center;
    page.names = v.names;
    for (const real_array* values : *v.signals) page.signals.emplace_back(values->buffer, static_cast<std::size_t>(values->count));
    if (v.clusters > 0) page.cut = {report_cut::kind::clusters, static_cast<double>(v.clusters)};
    if (v.cut_at) page.cut = {report_cut::kind::threshold, v.cluster_at};
    if (ranked_) {
      page.against = true;
      page.reference_name = v.reference;
      page.reference = {v.reference_values->buffer, static_cast<std::size_t>(v.reference_values->count)};
      page.against_values = &v.values;
    } else {
      page.table = &v.values;
      page.tree = v.tree;
      page.groups = v.groups;
    }
    write_report(out, page, v.threads);
  }

  bool ranked_;
};

}  // namespace

std::unique_ptr<output> table_output(const std::string& path) { return std::make_unique<table_writer>(path); }
std::unique_ptr<output> groups_output(const std::string& path) { return std::make_unique<groups_writer>(path); }
std::unique_ptr<output> tree_output(const std::string& path) { return std::make_unique<tree_writer>(path); }
std::unique_ptr<output> heatmap_output(const std::string& path) { return std::make_unique<heatmap_writer>(path); }
std::unique_ptr<output> report_output(const std::string& path) { return std::make_unique<report_writer>(path, false); }
std::unique_ptr<output> ranked_report_output(const std::string& path) {
  return std::make_unique<report_writer>(path, true);
}

}  // namespace lagscan::matrix
