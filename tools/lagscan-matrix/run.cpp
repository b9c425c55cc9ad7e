#include "tools/lagscan-matrix/run.h"

#include <omp.h>

#include <algorithm>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "matrix/center.h"
#include "matrix/fast_pairs.h"
#include "matrix/similarity.h"
#include "outputs/output_file.h"
#include "runtime/per_thread.h"
#include "runtime/region_failure.h"
#include "runtime/thread_count.h"
#include "sets/packed_set.h"
#include "sets/set_files.h"
#include "tools/lagscan-matrix/command.h"
#include "tools/lagscan-matrix/inputs.h"

namespace lagscan::matrix {
namespace {

// The files read, and those of them that take part.
struct loaded {
  std::vector<data_file> files;
  std::vector<std::size_t> kept;
  std::vector<const real_array*> sets;  // the values of those taking part
  std::vector<std::string> names;       // and their names
};

loaded load(const plan& p, file_list& list, const std::vector<std::string>& names, int threads) {
  const bool tiled = p.work == computation::tile;
  const bool against = p.work == computation::against;
  std::vector<std::size_t> which = tiled ? tile_files(names.size(), p.tile) : std::vector<std::size_t>();
  for (std::size_t i = 0; !tiled && i < names.size(); ++i) which.push_back(i);
  loaded in;
  in.files = list.load(which, threads);
  std::int32_t expected = 0;
  if (against) {
    if (!in.files[0].problem.empty()) throw failure{status_failure, file_problem(names[0], in.files[0].problem)};
    expected = in.files[0].values.count;
  } else {
    expected = usual_count(in.files);
  }
  // A tile of two empty blocks (more blocks than files) holds no pairs.
  if (!tiled || !in.files.empty()) in.kept = files_taking_part(in.files, against ? 1 : 0, expected, p.keep_going);
  if (p.clusters > 0 && static_cast<std::size_t>(p.clusters) > in.kept.size()) {
    throw failure{status_usage, "--clusters " + std::to_string(p.clusters) + ": there are only " +
                                    std::to_string(in.kept.size()) + " files"};
  }
  return in;
}

void center(const plan& p, loaded& in, int threads) {
  if (p.work == computation::against) center_values(in.files[0].values);
  const auto count = static_cast<std::int64_t>(in.kept.size());
  region_failure failure;  // storage for a packed row's own copy may run out
#pragma omp parallel for num_threads(threads) schedule(dynamic, 16)
  for (std::int64_t k = 0; k < count; ++k) {
    if (failure.failed()) continue;
    failure.run([&] {
      real_array& values = in.files[in.kept[static_cast<std::size_t>(k)]].values;
      own_values(values);  // a packed row is read-only in its mapping
      center_values(values);
    });
  }
  failure.raise();
}

std::vector<double> all_pairs_values(const plan& p, const real_array& window, loaded& in, const outside_domain& outside,
                                     row_range rows, int threads, bool shown) {
  if (!p.fast) return all_pairs(window, in.sets, rows, threads, shown);
  const window_sum_rows sums = make_window_sum_rows(window, in.sets, threads);
  const bool all_inside = std::find(outside.sets.begin(), outside.sets.end(), 1) == outside.sets.end();
  if (all_inside && !p.keep_values) {
    for (data_file& file : in.files) file.values.release_storage();  // only the sums are needed now
  }
  std::vector<double> values = all_pairs_fast(sums, rows, threads, shown);
  if (!all_inside) exact_pairs_outside_domain(window, in.sets, outside.sets, rows, values, threads);
  return values;
}

// Hands the values to each output when its stage comes, the tree made for
// those that need it; then gives them their names, the last written first.
void write_outputs(const plan& p, std::vector<std::unique_ptr<output>>& outputs, pair_values& v) {
  std::vector<output*> written;
  std::optional<cluster_tree> tree;
  std::optional<grouping> groups;
  for (output::stage stage : {output::stage::before_tree, output::stage::from_tree, output::stage::last}) {
    for (const std::unique_ptr<output>& out : outputs) {
      if (out->when() != stage) continue;
      if (stage != output::stage::before_tree && !tree) {
        {
          std::vector<double> distances = condensed_distances(v.values, v.names.size());
          tree = average_linkage(distances, v.names.size());
        }
        if (p.grouped()) {
          groups = p.clusters > 0 ? cut_into(*tree, static_cast<std::size_t>(p.clusters), v.values)
                                  : cut_at(*tree, p.cluster_at, v.values);
        }
        v.tree = &*tree;
        v.groups = groups ? &*groups : nullptr;
      }
      out->write(v);
      written.push_back(out.get());
    }
  }
  for (auto out = written.rbegin(); out != written.rend(); ++out) (*out)->commit();
}

}  // namespace

int run(const plan& p) {
  std::vector<std::string> names = input_names(p);
  file_list list;
  for (const std::string& name : names) list.add(name);
  names = list.names();
  // Every output is opened before the work, so that one that cannot be
  // written fails first; a part and a packed set's two files are binary.
  std::vector<std::unique_ptr<output>> outputs;
  for (const planned_output& out : p.outputs) outputs.push_back(out.make(out.path));
  if (p.work == computation::pack && !is_packed_set(p.target)) {
    throw failure{status_failure, "a packed set's name ends in .npy, unlike " + p.target};
  }
  std::unique_ptr<output_file> target;
  std::unique_ptr<output_file> target_names;
  if (p.work == computation::tile || p.work == computation::pack) target = std::make_unique<output_file>(p.target, true);
  if (p.work == computation::pack) target_names = std::make_unique<output_file>(names_path(p.target), true);

  const int threads = p.threads > 0 ? p.threads : max_num_threads();
  prepare_for_threads(threads);
  omp_set_dynamic(0);  // --threads N means N
  loaded in = load(p, list, names, threads);
  if (p.center) center(p, in, threads);
  for (std::size_t i : in.kept) {
    in.sets.push_back(&in.files[i].values);
    in.names.push_back(in.files[i].name);
  }
  const bool shown = !p.quiet && standard_error_is_terminal();
  if (p.work == computation::pack) {
    write_packed_set(*target, *target_names, in.names, in.sets);
    return 0;
  }
  real_array window;
  make_window(window, p.s);
  const bool one_against_each = p.work == computation::against;
  const outside_domain outside = files_outside_domain(window, in.files, in.kept, one_against_each, threads);
  if (p.work == computation::tile) {
    write_tile(*target, tile_job{p.tile, p.s, p.fast, p.top, threads, shown, outside.sets}, names, in.files);
    return 0;
  }
  const row_range rows = one_against_each ? row_range{} : row_block(in.sets.size(), p.block.block, p.block.blocks);
  std::vector<double> values =
      !one_against_each ? all_pairs_values(p, window, in, outside, rows, threads, shown)
      : p.fast ? against_fast(window, in.files[0].values, outside.reference, in.sets, outside.sets, threads, shown)
               : against(window, in.files[0].values, in.sets, threads, shown);
  const std::string reference = one_against_each ? names[0] : std::string();
  pair_values v{in.names, values, reference, rows, p.s, p.table};
  v.signals = &in.sets;
  v.reference_values = one_against_each ? &in.files[0].values : nullptr;
  v.fast = p.fast;
  v.center = p.center;
  v.threads = threads;
  v.clusters = p.clusters;
  v.cut_at = p.cut_at;
  v.cluster_at = p.cluster_at;
  write_outputs(p, outputs, v);
  return 0;
}

}  // namespace lagscan::matrix
