// lagscan-matrix --report on the built program: what it refuses, and that
// the page leaves the run's other outputs and messages as they were.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "tools/lagscan-matrix/matrix_fixture.h"

namespace lagscan::testing {
namespace {

class report_command : public matrix_command {
 protected:
  void SetUp() override {
    data.write("up.xy", "1 1\n2 2\n3 3\n4 5\n");
    data.write("down.xy", "1 3\n2 2\n3 1\n4 0\n");
    data.write("flat.xy", "1 2\n2 2\n3 2\n4 2\n");
    data.write("old.html", "an earlier page\n");
  }
};

struct report_refusal_row {
  const char* name;
  std::vector<std::string> args;
  std::string err;  // exactly; the status is 2
};

void PrintTo(const report_refusal_row& row, std::ostream* os) { *os << row.name; }

class report_refused : public report_command, public ::testing::WithParamInterface<report_refusal_row> {};

TEST_P(report_refused, with_a_reason_and_nothing_written) {
  process_result r = matrix(GetParam().args);
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.err, GetParam().err);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(read_file(data.path() / "old.html"), "an earlier page\n");
  EXPECT_FALSE(std::filesystem::exists(data.path() / "new.html"));
}

INSTANTIATE_TEST_SUITE_P(
    cases, report_refused,
    ::testing::Values(
        report_refusal_row{"with_rows",
                           {"--report", "new.html", "--rows", "1/2", "3", "up.xy", "down.xy"},
                           "lagscan-matrix: --report shows the whole table; it does not go with --rows\n"},
        report_refusal_row{"with_a_tile",
                           {"--report", "new.html", "--tile", "1/1", "-o", "part", "3", "up.xy", "down.xy"},
                           "lagscan-matrix: --report shows the whole table; it does not go with --tile (merge the "
                           "parts, then run on the packed set)\n"},
        report_refusal_row{"with_merge",
                           {"merge", "--report", "new.html", "part"},
                           "lagscan-matrix: --report needs the files' values, which parts do not hold: run "
                           "lagscan-matrix --report on the files or their packed set\n"},
        report_refusal_row{"over_a_data_file",
                           {"--report", "down.xy", "3", "up.xy", "down.xy"},
                           "lagscan-matrix: --report down.xy is also an input: an output never overwrites an input\n"},
        report_refusal_row{"in_the_file_of_the_table",
                           {"-o", "old.html", "--report", "old.html", "3", "up.xy", "down.xy"},
                           "lagscan-matrix: --report old.html is also the output of -o\n"}),
    [](const auto& row) { return std::string(row.param.name); });

// The page is one more output: the table on standard output and the other
// files are the bytes of a run without it, the inputs stay as they were,
// and an earlier page is replaced whole.
TEST_F(report_command, adds_a_page_and_changes_no_other_output) {
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"3", "up.xy", "down.xy", "flat.xy"},
        std::vector<std::string>{"--cluster-at", "0.5", "3", "up.xy", "down.xy", "flat.xy"},
        std::vector<std::string>{"--fast", "--clusters", "2", "--heatmap", "m.svg", "3", "up.xy", "down.xy", "flat.xy"},
        std::vector<std::string>{"--against", "up.xy", "3", "down.xy", "flat.xy"},
        std::vector<std::string>{"--center", "--keep-going", "--format", "long", "3", "up.xy", "gone.xy", "flat.xy"}}) {
    process_result without = matrix(args);
    const bool keeps_going = std::find(args.begin(), args.end(), "--keep-going") != args.end();
    ASSERT_EQ(without.status, 0) << without.err;
    const std::string picture = std::filesystem::exists(data.path() / "m.svg") ? read_file(data.path() / "m.svg") : "";
    std::vector<std::string> with = args;
    with.insert(with.begin(), {"--report", "old.html"});
    process_result r = matrix(with);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, without.err);
    EXPECT_EQ(r.err.empty(), !keeps_going);
    EXPECT_EQ(r.out, without.out);
    if (!picture.empty()) {
      EXPECT_EQ(read_file(data.path() / "m.svg"), picture);
    }
    const std::string page = read_file(data.path() / "old.html");
    EXPECT_EQ(page.rfind("<!DOCTYPE html>", 0), 0u);
    EXPECT_NE(page.find("\"names\":[\""), std::string::npos);
    EXPECT_NE(page.find("up.xy"), std::string::npos);
    EXPECT_EQ(read_file(data.path() / "up.xy"), "1 1\n2 2\n3 3\n4 5\n");
  }
}

}  // namespace
}  // namespace lagscan::testing
