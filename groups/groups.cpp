#include "groups/groups.h"

#include <algorithm>
#include <cassert>

#include "platform/format.h"

namespace lagscan::matrix {
namespace {

// Groups of the first `kept` merges of the tree, numbered and with their
// medoids.
grouping keep_merges(const cluster_tree& tree, std::size_t kept, const std::vector<double>& similarities) {
  const std::size_t n = tree.leaves;
  assert(kept < std::max<std::size_t>(n, 1) && "keep_merges: more merges than the tree has");
  // Each cluster's topmost kept cluster: parents are numbered above their
  // parts, so one pass from the top down finds them.
  std::vector<std::size_t> top(n + kept);
  for (std::size_t c = 0; c < top.size(); ++c) top[c] = c;
  for (std::size_t k = kept; k-- > 0;) {
    const merge& m = tree.merges[k];
    top[m.a] = top[n + k];
    top[m.b] = top[n + k];
  }

  // Number the groups: larger first, then by their first file.
  std::vector<std::size_t> first_file(n + kept, n);
  std::vector<std::size_t> size(n + kept, 0);
  for (std::size_t i = 0; i < n; ++i) {
    first_file[top[i]] = std::min(first_file[top[i]], i);
    ++size[top[i]];
  }
  std::vector<std::size_t> tops;
  for (std::size_t c = 0; c < top.size(); ++c) {
    if (size[c] > 0) tops.push_back(c);
  }
  std::sort(tops.begin(), tops.end(), [&](std::size_t p, std::size_t q) {
    return size[p] != size[q] ? size[p] > size[q] : first_file[p] < first_file[q];
  });
  std::vector<std::size_t> number(n + kept, 0);
  grouping g;
  for (std::size_t k = 0; k < tops.size(); ++k) {
    number[tops[k]] = k;
    g.sizes.push_back(size[tops[k]]);
  }
  g.group_of.resize(n);
  std::vector<std::vector<std::size_t>> members(tops.size());
  for (std::size_t i = 0; i < n; ++i) {
    g.group_of[i] = number[top[i]];
    members[g.group_of[i]].push_back(i);
  }

  // The medoids. Within a group the means share their divisor, so the sums
  // decide; each is added up over the other members in file order.
  for (const std::vector<std::size_t>& group : members) {
    std::size_t best = group.front();
    double best_sum = 0.0;
    for (std::size_t p = 0; p < group.size(); ++p) {
      const std::size_t i = group[p];
      double sum = 0.0;
      for (std::size_t j : group) {
        if (j != i) sum += 1.0 - distance_of(similarities[i * n + j]);
      }
      if (p == 0 || sum > best_sum) {
        best = i;
        best_sum = sum;
      }
    }
    g.representative.push_back(best);
  }

  // Where the cut lies: halfway between the last join kept and the first
  // undone (at a tree's end, a little past it).
  const double below = kept == 0 ? 0.0 : tree.merges[kept - 1].height;
  const double above = kept < tree.merges.size() ? tree.merges[kept].height : below + 0.05;
  g.cut = (below + above) / 2.0;
  return g;
}

}  // namespace

grouping cut_into(const cluster_tree& tree, std::size_t k, const std::vector<double>& similarities) {
  assert(k >= 1 && k <= std::max<std::size_t>(tree.leaves, 1) && "cut_into: k outside 1 .. n");
  return keep_merges(tree, tree.leaves == 0 ? 0 : tree.leaves - k, similarities);
}

grouping cut_at(const cluster_tree& tree, double t, const std::vector<double>& similarities) {
  const double limit = 1.0 - t;
  std::size_t kept = 0;
  while (kept < tree.merges.size() && tree.merges[kept].height <= limit) ++kept;
  grouping g = keep_merges(tree, kept, similarities);
  g.cut = limit;
  return g;
}

void write_groups(std::FILE* out, const std::vector<std::string>& names, const grouping& groups) {
  std::vector<std::vector<std::size_t>> members(groups.sizes.size());
  for (std::size_t i = 0; i < groups.group_of.size(); ++i) members[groups.group_of[i]].push_back(i);
  std::string text = "file\tcluster\tsize\trepresentative\n";
  for (std::size_t g = 0; g < members.size(); ++g) {
    // Appended piece by piece: GCC 12 at -O3 warns (-Wrestrict, wrongly)
    // inside libstdc++ about "text" + a string.
    std::string tail = "\t";
    tail += std::to_string(g + 1);
    tail += '\t';
    tail += std::to_string(groups.sizes[g]);
    tail += '\t';
    tail += names[groups.representative[g]];
    tail += '\n';
    for (std::size_t i : members[g]) {
      text += names[i];
      text += tail;
      if (text.size() >= 1 << 16) {
        std::fwrite(text.data(), 1, text.size(), out);
        text.clear();
      }
    }
  }
  std::fwrite(text.data(), 1, text.size(), out);
}

void write_tree(std::FILE* out, const cluster_tree& tree) {
  std::string text;
  char height[40];
  for (const merge& m : tree.merges) {
    // The platform's formatting writes exponents alike on every system.
    platform::format_bounded(height, sizeof height, "%.17g", m.height);
    text += std::to_string(m.a) + "\t" + std::to_string(m.b) + "\t" + std::string(height) + "\t" +
            std::to_string(m.size) + "\n";
    if (text.size() >= 1 << 16) {
      std::fwrite(text.data(), 1, text.size(), out);
      text.clear();
    }
  }
  std::fwrite(text.data(), 1, text.size(), out);
}

}  // namespace lagscan::matrix
