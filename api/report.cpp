// The report page of a set, through lagscan-matrix's own writer.

#include <cmath>
#include <memory>

#include "api/checks.h"
#include "api/library_calls.h"
#include "lagscan/lagscan.hpp"
#include "groups/clustering.h"
#include "groups/groups.h"
#include "outputs/report.h"

namespace lagscan {
inline namespace v0 {

std::string report_page(sequences sets, int s, const report_options& options) {
  const std::size_t n = sets.size();
  if (!options.names.empty() && options.names.size() != n) {
    throw std::invalid_argument("names: " + std::to_string(options.names.size()) + " names for " + std::to_string(n) +
                                " sequences");
  }
  if (options.digits < 1 || options.digits > 17) throw std::invalid_argument("digits must be from 1 to 17");
  if (options.clusters > 0 && !std::isnan(options.cluster_at)) {
    throw std::invalid_argument("clusters and cluster_at cut the tree in two ways: give one");
  }
  if (options.clusters > n) {
    throw std::invalid_argument("clusters: there are only " + std::to_string(n) + " sequences");
  }
  if (!std::isnan(options.cluster_at) && !(options.cluster_at >= -1.0 && options.cluster_at <= 1.0)) {
    throw std::invalid_argument("cluster_at: give a similarity from -1 to 1");
  }
  if (n == 0) throw std::invalid_argument("no sequences given");
  std::vector<double> values = all_pairs(sets, s, options.matrix);
  return api::library_call([&] {
    const int threads = api::team_size(options.matrix.threads);
    std::vector<double> distances = matrix::condensed_distances(values, n);
    const matrix::cluster_tree tree = matrix::average_linkage(distances, n);
    std::unique_ptr<matrix::grouping> groups;
    matrix::report_input page;
    if (options.clusters > 0) {
      groups = std::make_unique<matrix::grouping>(matrix::cut_into(tree, options.clusters, values));
      page.cut = {matrix::report_cut::kind::clusters, static_cast<double>(options.clusters)};
    } else if (!std::isnan(options.cluster_at)) {
      groups = std::make_unique<matrix::grouping>(matrix::cut_at(tree, options.cluster_at, values));
      page.cut = {matrix::report_cut::kind::threshold, options.cluster_at};
    }
    page.s = s;
    page.digits = options.digits;
    page.fast = options.matrix.how == method::fast;
    for (std::size_t i = 0; i < n; ++i) {
      page.names.push_back(options.names.empty() ? std::to_string(i + 1) : options.names[i]);
    }
    page.signals.assign(sets.begin(), sets.end());
    page.table = &values;
    page.tree = &tree;
    page.groups = groups.get();
    return matrix::report_page(page, threads);
  });
}

}  // namespace v0
}  // namespace lagscan
