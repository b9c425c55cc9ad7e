// The memory limit of a process's control groups, read from a made-up tree
// of group folders: every group from the process's own up to the root may
// set a limit, and the smallest is the one that holds.
#include "platform/posix/control_groups.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "support/temp_dir.h"

namespace lagscan::platform {
namespace {

constexpr std::uint64_t gib = std::uint64_t{1} << 30;
constexpr std::uint64_t mib = std::uint64_t{1} << 20;
// What version 1 shows for a group without a limit.
const char* const v1_unlimited = "9223372036854771712\n";

struct group_case {
  const char* name;
  std::string membership;                                  // /proc/self/cgroup
  std::vector<std::pair<std::string, std::string>> files;  // under the mount root
  std::uint64_t limit;
};

void PrintTo(const group_case& c, std::ostream* os) { *os << c.name; }

class memory_limit : public ::testing::TestWithParam<group_case> {};

TEST_P(memory_limit, is_the_smallest_set_on_the_path_from_the_process_group_to_the_root) {
  lagscan::testing::temp_dir root;
  for (const auto& [path, text] : GetParam().files) root.write(path, text);
  const std::string& membership = GetParam().membership;
  EXPECT_EQ(control_groups::memory_limit(membership.data(), membership.size(), root.path().string().c_str()),
            GetParam().limit);
}

const std::string v2_job = "0::/system.slice/job.scope/step\n";
const std::string v1_job =
    "12:pids:/system.slice/job.scope\n"
    "5:memory:/system.slice/job.scope/step\n"
    "3:cpu,cpuacct:/system.slice\n"
    "1:name=systemd:/system.slice/job.scope\n"
    "0::/system.slice/job.scope\n";

INSTANTIATE_TEST_SUITE_P(
    trees, memory_limit,
    ::testing::Values(
        group_case{"v2_limit_on_the_process_group",
                   v2_job,
                   {{"system.slice/job.scope/step/memory.max", "1073741824\n"},
                    {"system.slice/job.scope/memory.max", "max\n"},
                    {"system.slice/memory.max", "max\n"}},
                   gib},
        group_case{"v2_an_ancestor_below_the_group",
                   v2_job,
                   {{"system.slice/job.scope/step/memory.max", "2147483648\n"},
                    {"system.slice/job.scope/memory.max", "536870912\n"},
                    {"system.slice/memory.max", "1073741824\n"}},
                   512 * mib},
        group_case{"v2_the_root_file_of_a_namespaced_container",
                   "0::/\n",
                   {{"memory.max", "268435456\n"}},
                   256 * mib},
        group_case{"v2_max_everywhere_is_no_limit",
                   v2_job,
                   {{"memory.max", "max\n"},
                    {"system.slice/memory.max", "max\n"},
                    {"system.slice/job.scope/memory.max", "max\n"},
                    {"system.slice/job.scope/step/memory.max", "max\n"}},
                   0},
        group_case{"v2_folders_missing_below_the_root",  // a container without its own namespace
                   "0::/docker/0123abcd\n",
                   {{"memory.max", "805306368\n"}},
                   768 * mib},
        group_case{"v2_a_trailing_slash", "0::/a/\n", {{"a/memory.max", "1048576\n"}}, mib},
        group_case{"v1_the_memory_controller_line",
                   v1_job,
                   {{"memory/memory.limit_in_bytes", v1_unlimited},
                    {"memory/system.slice/memory.limit_in_bytes", v1_unlimited},
                    {"memory/system.slice/job.scope/memory.limit_in_bytes", "3221225472\n"},
                    {"memory/system.slice/job.scope/step/memory.limit_in_bytes", v1_unlimited},
                    // the unified hierarchy of a hybrid system carries no limits
                    {"system.slice/job.scope/memory.max", "1048576\n"}},
                   3 * gib},
        group_case{"v1_without_limits_answers_the_unlimited_value",
                   "5:memory:/\n",
                   {{"memory/memory.limit_in_bytes", v1_unlimited}},
                   9223372036854771712u},
        group_case{"no_files_at_all", v2_job, {}, 0},
        group_case{"unreadable_limits_set_none",
                   v2_job,
                   {{"system.slice/job.scope/step/memory.max", "\n"},
                    {"system.slice/job.scope/memory.max", "a lot\n"},
                    {"system.slice/memory.max", "99999999999999999999999\n"},  // beyond any machine
                    {"memory.max", "4194304\n"}},
                   4 * mib},
        group_case{"malformed_lines_fall_back_to_the_root_files",
                   "garbage\n5:memory\n0::relative/path\n7:memory:\n",
                   {{"memory.max", "max\n"}, {"memory/memory.limit_in_bytes", "2097152\n"}},
                   2 * mib},
        group_case{"an_empty_membership_reads_the_root_v2_file_first",
                   "",
                   {{"memory.max", "3145728\n"}, {"memory/memory.limit_in_bytes", "2097152\n"}},
                   3 * mib},
        group_case{"the_last_line_needs_no_line_end",
                   "0::/a/b",
                   {{"a/b/memory.max", "max\n"}, {"a/memory.max", "5242880"}},
                   5 * mib},
        group_case{"a_path_too_long_to_follow_reads_the_root_alone",
                   "0::/" + std::string(5000, 'x') + "\n",
                   {{"memory.max", "6291456\n"}},
                   6 * mib}),
    [](const auto& row) { return std::string(row.param.name); });

// The process's own groups, read from the system: whatever they are, the
// answer is what the same reading of the system's files gives.
TEST(memory_limit, of_this_process_reads_proc_self_cgroup_under_sys_fs_cgroup) {
  std::string membership;
  if (FILE* f = std::fopen("/proc/self/cgroup", "rb")) {
    char text[4096];
    std::size_t n = 0;
    while ((n = std::fread(text, 1, sizeof text, f)) > 0) membership.append(text, n);
    std::fclose(f);
  }
  EXPECT_EQ(control_groups::own_memory_limit(),
            control_groups::memory_limit(membership.data(), membership.size(), "/sys/fs/cgroup"));
}

}  // namespace
}  // namespace lagscan::platform
