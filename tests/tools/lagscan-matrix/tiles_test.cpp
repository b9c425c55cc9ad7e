// Tiled runs and packed sets, as users run them: the parts of every tile
// (--tile T/K), merged, are the single run's bytes in every form, exact and
// --fast; a tile reads only its own blocks' files; a packed set stands for
// its files anywhere; and a damaged packed set, a missing, doubled or
// foreign part, or a bad tile gets a message naming it, the status of a
// failure and no output that looks complete.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "tools/lagscan-matrix/matrix_fixture.h"

namespace lagscan::testing {
namespace {

namespace fs = std::filesystem;

// Files of waves, noise and large offsets (the values whose window sums
// differ in their last digits), one constant file among them.
std::vector<std::string> write_files(const temp_dir& data, int files, int values, unsigned seed) {
  std::mt19937_64 rng(seed);
  std::normal_distribution<double> noise(0.0, 0.3);
  std::vector<std::string> names;
  for (int f = 0; f < files; ++f) {
    std::string text;
    char line[64];
    for (int i = 0; i < values; ++i) {
      double y = f == 5 ? 2.5 : std::sin(0.05 * i * (1 + f % 7)) + noise(rng) + (f % 11 == 0 ? 1e5 : 0.0);
      std::snprintf(line, sizeof line, "%d %.17g\n", i, y);
      text += line;
    }
    names.push_back(numbered_file("t", f));
    data.write(names.back(), text);
  }
  return names;
}

std::vector<std::string> with(std::vector<std::string> a, const std::vector<std::string>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

class tiled_run : public matrix_command {
 protected:
  // Every tile of K into parts part-T; the parts' paths, in reverse order so
  // that merge must put them in theirs. Tiles alternate 1 and 2 threads.
  std::vector<std::string> run_tiles(const std::vector<std::string>& options, int blocks,
                                     const std::vector<std::string>& files) {
    std::vector<std::string> parts;
    for (int t = 1; t <= blocks * (blocks + 1) / 2; ++t) {
      const std::string part = "part-" + std::to_string(blocks) + "-" + std::to_string(t);
      process_result r = matrix(with(with(options, {"--tile", std::to_string(t) + "/" + std::to_string(blocks), "-o",
                                                    part, "--threads", t % 2 ? "1" : "2"}),
                                     files));
      EXPECT_EQ(r.status, 0) << r.err;
      EXPECT_EQ(r.out, "");
      EXPECT_EQ(r.err, "");
      parts.insert(parts.begin(), part);
    }
    return parts;
  }
};

struct tile_case {
  const char* name;
  std::vector<std::string> options;  // of the tiles and the single run
  std::vector<std::string> merge_options;
};

void PrintTo(const tile_case& c, std::ostream* os) { *os << c.name; }

class tiles : public tiled_run, public ::testing::WithParamInterface<tile_case> {};

// 600 files: blocks of 600 / K cut the 256-file tiles of --fast's grid
// anywhere, and a pair's bits must not depend on where.
TEST_P(tiles, merged_parts_are_the_single_runs_bytes) {
  const std::vector<std::string> files = write_files(data, 600, 40, 25);
  std::vector<std::string> single = with(with(GetParam().options, {"--format", "long"}), GetParam().merge_options);
  process_result whole = matrix(with(with(single, {"--threads", "2", "7"}), files));
  ASSERT_EQ(whole.status, 0) << whole.err;
  for (int blocks : {1, 4, 5}) {
    std::vector<std::string> parts = run_tiles(with(GetParam().options, {"7"}), blocks, files);
    process_result merged = matrix(with(with({"merge"}, GetParam().merge_options), parts));
    EXPECT_EQ(merged.status, 0) << merged.err;
    EXPECT_EQ(merged.err, "");
    EXPECT_TRUE(merged.out == whole.out) << blocks << " blocks merge to other bytes than one run";
  }
}

INSTANTIATE_TEST_SUITE_P(
    forms, tiles,
    ::testing::Values(tile_case{"every_pair", {}, {}}, tile_case{"every_pair_fast", {"--fast"}, {"--digits", "17"}},
                      tile_case{"nearest", {"--top", "4"}, {"--digits", "17"}},
                      tile_case{"nearest_fast", {"--fast", "--top", "3"}, {}},
                      tile_case{"more_nearest_than_files_in_a_block", {"--fast", "--top", "200"}, {"--digits", "17"}}),
    [](const auto& row) { return std::string(row.param.name); });

// A tile's task holds its two blocks only: the files of other blocks are
// neither read nor needed, and a bad file of its own is named.
TEST_F(tiled_run, a_tile_reads_only_the_files_of_its_two_blocks) {
  std::vector<std::string> files = write_files(data, 9, 20, 3);
  files[7] = "missing.xy";  // in block 3 of 3
  process_result r = matrix(with({"--tile", "2/3", "-o", "part", "5"}, files));  // blocks 1 and 2
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err, "");
  r = matrix(with({"--tile", "3/3", "-o", "part3", "5"}, files));  // blocks 1 and 3
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "lagscan-matrix: Cannot open file missing.xy\n");
  EXPECT_FALSE(fs::exists(data.path() / "part3"));
}

// Each tile sees files of one count, but two tiles see different counts:
// the merge finds it.
TEST_F(tiled_run, merge_refuses_parts_of_files_of_different_counts) {
  std::vector<std::string> files = write_files(data, 4, 20, 4);
  data.write(files[3], "1 1\n2 2\n3 3\n");
  files[2] = files[3];  // block 2 of 2 holds files of 3 values, block 1 of 20
  for (const char* t : {"1/2", "2/2", "3/2"}) {
    process_result r = matrix(with({"--tile", t, "-o", std::string("p") + t[0], "3"}, files));
    EXPECT_EQ(r.status, std::string(t) == "2/2" ? 1 : 0) << t << r.err;
  }
  process_result r = matrix({"merge", "-o", "out.txt", "p1", "p3"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "lagscan-matrix: p3 does not belong with p1: values a file 3, not 20\n");
}

// The merge checks the whole set of parts before it writes anything.
TEST_F(tiled_run, merge_refuses_a_missing_doubled_or_foreign_part_and_writes_nothing) {
  const std::vector<std::string> files = write_files(data, 7, 16, 6);
  const std::vector<std::string> parts = run_tiles({"5"}, 2, files);  // part-2-3, part-2-2, part-2-1
  run_tiles({"--top", "2", "5"}, 1, files);                           // part-1-1
  data.write("old.txt", "an earlier result\n");
  std::string part = read_file(data.path() / "part-2-2");
  data.write("short", part.substr(0, part.size() - 8));
  data.write("long", part + "x");
  data.write("text", "1 2\n3 4\n");
  struct refusal {
    std::vector<std::string> parts;
    std::string message;
  };
  const std::vector<refusal> refusals = {
      {{"part-2-1", "part-2-3"}, "1 of 3 tiles have no part: 2/3 (block 1 against block 2)"},
      {{"part-2-1", "part-2-2", "part-2-3", "part-2-2"}, "part-2-2 and part-2-2 are both tile 2/3 (block 1 against block 2)"},
      {{"part-2-1", "part-2-2", "part-1-1"}, "part-1-1 does not belong with part-2-1: blocks 1, not 2"},
      {{"part-2-1", "short", "part-2-3"}, "short: " + std::to_string(part.size() - 8) + " bytes, but its head makes " +
                                               std::to_string(part.size()) + " (cut short?)"},
      {{"part-2-1", "long", "part-2-3"},
       "long: " + std::to_string(part.size() + 1) + " bytes, but its head makes " + std::to_string(part.size())},
      {{"text", "part-2-1"}, "text: not a part of a tiled run (too short)"},
      {{"part-2-1", "gone", "part-2-3"}, "Cannot open file gone"},
  };
  for (const refusal& c : refusals) {
    process_result r = matrix(with({"merge", "-o", "old.txt"}, c.parts));
    EXPECT_EQ(r.status, 1) << c.message;
    EXPECT_EQ(r.err, "lagscan-matrix: " + c.message + "\n");
    EXPECT_EQ(read_file(data.path() / "old.txt"), "an earlier result\n") << c.message;
    EXPECT_FALSE(fs::exists(data.path() / "old.txt.incomplete"));
  }
  process_result r = matrix({"merge", "part-2-1", "part-2-3", "part-2-2", "-o", "old.txt"});
  EXPECT_EQ(r.status, 0) << r.err;
  // The merged file is text, with the system's line ends, as -o writes.
  EXPECT_EQ(with_lf_line_ends(read_file(data.path() / "old.txt")), matrix(with({"--format", "long", "5"}, files)).out);
}

TEST_F(tiled_run, bad_tiles_are_usage_errors) {
  const std::vector<std::string> files = write_files(data, 3, 8, 7);
  struct usage {
    std::vector<std::string> args;
    std::string message;
  };
  const std::vector<usage> usages = {
      {{"--tile", "7/3", "-o", "p"}, "--tile 7/3: give T/K, tile T of the K (K + 1) / 2 tiles of K blocks"},
      {{"--tile", "0/3", "-o", "p"}, "--tile 0/3: give T/K, tile T of the K (K + 1) / 2 tiles of K blocks"},
      {{"--tile", "2"}, "--tile 2: give T/K, tile T of the K (K + 1) / 2 tiles of K blocks"},
      {{"--tile", "1/2"}, "--tile writes a part for merge: give -o PART"},
      {{"--tile", "1/2", "-o", "p", "--rows", "1/2"}, "--tile goes with none of --against, --rows, --heatmap, --keep-going and clustering"},
      {{"--tile", "1/2", "-o", "p", "--keep-going"}, "--tile goes with none of --against, --rows, --heatmap, --keep-going and clustering"},
      {{"--tile", "1/2", "-o", "p", "--digits", "3"}, "--tile writes a part; merge writes the long form, with --digits"},
      {{"--tile", "1/2", "-o", "p", "--clusters", "2"},
       "--tile goes with none of --against, --rows, --heatmap, --keep-going and clustering"},
  };
  for (const usage& c : usages) {
    process_result r = matrix(with(with(c.args, {"3"}), files));
    EXPECT_EQ(r.status, 2) << c.message;
    EXPECT_EQ(r.err, "lagscan-matrix: " + c.message + "\n");
    EXPECT_FALSE(fs::exists(data.path() / "p"));
  }
  process_result r = matrix({"merge"});
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.err, "lagscan-matrix: no parts given\n");
}

// More blocks than files: the tiles of empty blocks hold no pairs, and the
// merge still joins the rest into the whole output.
TEST_F(tiled_run, more_blocks_than_files_merge_to_the_whole_output) {
  const std::vector<std::string> files = write_files(data, 3, 10, 9);
  for (const std::vector<std::string>& options : {std::vector<std::string>{"5"}, {"--top", "1", "--fast", "5"}}) {
    const std::vector<std::string> parts = run_tiles(options, 5, files);
    process_result merged = matrix(with({"merge"}, parts));
    EXPECT_EQ(merged.status, 0) << merged.err;
    EXPECT_EQ(merged.out, matrix(with(with({"--format", "long"}, options), files)).out);
  }
}

// A file whose sums overflow lies outside --fast's domain: one run forms its
// pairs by the exact path, and so must the tiles that hold it.
TEST_F(tiled_run, files_outside_the_fast_domain_merge_to_the_single_runs_bytes) {
  std::vector<std::string> files = write_files(data, 8, 30, 10);
  std::string huge;
  for (int i = 0; i < 30; ++i) huge += std::to_string(i) + " " + (i % 3 ? "1e153" : "-1e153") + "\n";
  data.write(files[5], huge);
  const std::vector<std::string> options = {"--fast", "--top", "3", "101"};
  process_result whole = matrix(with(with({"--format", "long", "--digits", "17"}, options), files));
  ASSERT_EQ(whole.status, 0) << whole.err;
  ASSERT_NE(whole.err.find(files[5] + ": its values are too large"), std::string::npos) << whole.err;
  for (int blocks : {2, 3}) {
    std::vector<std::string> parts;
    for (int t = 1; t <= blocks * (blocks + 1) / 2; ++t) {
      parts.push_back("o" + std::to_string(blocks) + "-" + std::to_string(t));
      process_result r =
          matrix(with(with({"--tile", std::to_string(t) + "/" + std::to_string(blocks), "-o", parts.back()}, options), files));
      EXPECT_EQ(r.status, 0) << r.err;
    }
    process_result merged = matrix(with({"merge", "--digits", "17"}, parts));
    EXPECT_EQ(merged.status, 0) << merged.err;
    EXPECT_TRUE(merged.out == whole.out) << blocks << " blocks: other bytes than one run";
  }
}

// "pack" and "merge" name commands only as the first word: after S they
// are files as before.
TEST_F(tiled_run, files_named_like_the_commands_are_still_files) {
  data.write("merge", "1 1\n2 5\n3 2\n");
  data.write("pack", "1 4\n2 1\n3 3\n");
  process_result r = matrix({"--format", "long", "3", "merge", "pack"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "merge\tpack\t" + lagscan_value("merge", "pack", "3") + "\n");
}

// --- Packed sets ------------------------------------------------------------

// A run on a packed set prints what the run on its files printed, wherever
// the set stands among the files.
TEST_F(tiled_run, a_packed_set_stands_for_its_files) {
  const std::vector<std::string> files = write_files(data, 30, 25, 8);
  process_result packed = matrix(with({"pack", "-o", "set.npy"}, std::vector<std::string>(files.begin() + 5, files.end())));
  ASSERT_EQ(packed.status, 0) << packed.err;
  EXPECT_EQ(packed.out, "");
  EXPECT_EQ(packed.err, "");
  std::string list;
  for (std::size_t i = 5; i < files.size(); ++i) list += files[i] + "\n";
  EXPECT_EQ(read_file(data.path() / "set.names"), list);
  const std::vector<std::string> mixed = with(std::vector<std::string>(files.begin(), files.begin() + 5), {"set.npy"});
  for (const std::vector<std::string>& options :
       {std::vector<std::string>{"9"}, {"--fast", "--format", "long", "--digits", "17", "9"}, {"--top", "3", "9"},
        {"--against", files[0], "--fast", "9"}, {"--center", "--format", "long", "9"}}) {
    process_result text = matrix(with(options, files));
    process_result from_set = matrix(with(options, mixed));
    EXPECT_EQ(from_set.status, 0) << from_set.err;
    EXPECT_EQ(from_set.err, "");
    EXPECT_TRUE(from_set.out == text.out) << options[0] << ": the packed set prints other bytes";
  }
  const std::vector<std::string> parts = run_tiles({"--fast", "9"}, 3, mixed);
  EXPECT_EQ(matrix(with({"merge", "--digits", "17"}, parts)).out,
            matrix(with({"--fast", "--format", "long", "--digits", "17", "9"}, files)).out);
}

// The .npy bytes for a header text (the dict, padded here or not) and the
// values.
std::string npy_file(const std::string& dict, std::size_t doubles, unsigned char major = 1) {
  std::string header = dict + "\n";
  std::string bytes = std::string("\x93NUMPY", 6) + static_cast<char>(major) + '\0' +
                      static_cast<char>(header.size() & 0xff) + static_cast<char>(header.size() >> 8) + header;
  return bytes + std::string(doubles * 8, '\0');
}

TEST_F(tiled_run, a_damaged_or_mismatched_packed_set_is_refused) {
  const std::string good = "{'descr': '<f8', 'fortran_order': False, 'shape': (2, 3), }";
  const std::string whole = std::to_string(npy_file(good, 6).size());
  struct damage {
    std::string bytes;
    std::string names;
    std::string message;
  };
  const std::vector<damage> damages = {
      {"x1 2\n", "a\nb\n", "set.npy: not a .npy file (no numpy magic at its start)"},
      {npy_file(good, 6, 2), "a\nb\n", "set.npy: its .npy version is 2.0, not 1.0"},
      {npy_file(good, 5), "a\nb\n",
       "set.npy: it has " + std::to_string(npy_file(good, 5).size()) + " bytes, but its header and shape (2, 3) make " + whole},
      {npy_file(good, 7), "a\nb\n",
       "set.npy: it has " + std::to_string(npy_file(good, 7).size()) + " bytes, but its header and shape (2, 3) make " + whole},
      {npy_file("{'descr': '>f8', 'fortran_order': False, 'shape': (2, 3), }", 6), "a\nb\n",
       "set.npy: it holds '>f8' values, not little-endian doubles ('<f8')"},
      {npy_file("{'descr': '<f4', 'fortran_order': False, 'shape': (2, 3), }", 3), "a\nb\n",
       "set.npy: it holds '<f4' values, not little-endian doubles ('<f8')"},
      {npy_file("{'descr': '<f8', 'fortran_order': True, 'shape': (2, 3), }", 6), "a\nb\n",
       "set.npy: its fortran_order is True, not False"},
      {npy_file("{'descr': '<f8', 'fortran_order': False, 'shape': (6,), }", 6), "a\nb\n",
       "set.npy: its shape is (6,), not (files, values)"},
      {npy_file("{'descr': '<f8', 'fortran_order': False, 'shape': (1, 2, 3), }", 6), "a\nb\n",
       "set.npy: its shape is (1, 2, 3), not (files, values)"},
      {npy_file("{'descr': '<f8', 'fortran_order': False}", 6), "a\nb\n", "set.npy: its header gives no 'shape'"},
      {npy_file("{'descr': '<f8', 'descr': '<f8', 'fortran_order': False, 'shape': (2, 3)}", 6), "a\nb\n",
       "set.npy: its header gives 'descr' twice"},
      {npy_file("{'descr': '<f8', 'fortran_order': False, 'shape': (2, 3), 'x': 1}", 6), "a\nb\n",
       "set.npy: its header holds an unknown key 'x'"},
      {npy_file("{'descr': '<f8', 'fortran_order': False, 'shape': (2, 3)} junk", 6), "a\nb\n",
       "set.npy: its header holds more than its dict"},
      {npy_file("{'descr': '<f8', 'fortran_order': False, 'shape': (2, 3x), }", 6), "a\nb\n",
       "set.npy: its header's 'shape' cannot be read"},
      {npy_file(good, 6), "a\n", "set.names holds 1 names, but set.npy holds 2 rows"},
      {npy_file(good, 6), "a\nb\nc\n", "set.names holds 3 names, but set.npy holds 2 rows"},
      {npy_file(good, 6), "a\n\nb\n", "set.names: line 2 names no file"},
      {npy_file(good, 6), "", "Cannot open file set.names"},
  };
  for (const damage& c : damages) {
    data.write("set.npy", c.bytes);
    fs::remove(data.path() / "set.names");
    if (!c.names.empty()) data.write("set.names", c.names);
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"3", "set.npy"}, {"--tile", "1/1", "-o", "part", "3", "set.npy"}}) {
      process_result r = matrix(args);
      EXPECT_EQ(r.status, 1) << c.message;
      EXPECT_EQ(r.out, "");
      EXPECT_EQ(r.err, "lagscan-matrix: " + c.message + "\n");
      EXPECT_FALSE(fs::exists(data.path() / "part"));
    }
  }
  // A header padded with blanks, as numpy pads it, and rows of 1 2 4 and
  // 3 1 2: the values of the text files.
  std::string bytes = npy_file(good + std::string(63, ' '), 0);
  for (double value : {1.0, 2.0, 4.0, 3.0, 1.0, 2.0}) bytes.append(reinterpret_cast<const char*>(&value), 8);
  data.write("set.npy", bytes);
  data.write("set.names", "a.xy\nb.xy\n");
  data.write("a.xy", "0 1\n1 2\n2 4\n");
  data.write("b.xy", "0 3\n1 1\n2 2\n");
  process_result r = matrix({"--format", "long", "3", "set.npy"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "a.xy\tb.xy\t" + lagscan_value("a.xy", "b.xy", "3") + "\n");
}

TEST_F(tiled_run, pack_refuses_what_it_cannot_pack_and_leaves_no_set) {
  data.write("a.xy", "1 1\n2 2\n3 4\n");
  data.write("b.xy", "1 1\n2 2\n");
  data.write("set.npy", "an earlier set");
  struct refusal {
    std::vector<std::string> args;
    int status;
    std::string message;
  };
  const std::vector<refusal> refusals = {
      {{"pack", "-o", "set.npy", "a.xy", "gone.xy"}, 1, "Cannot open file gone.xy"},
      {{"pack", "-o", "set.npy", "a.xy", "b.xy"}, 1, "Number of points in files needs to be the same\n"
                                                     "lagscan-matrix: b.xy has 2 values, not 3"},
      {{"pack", "-o", "set.txt", "a.xy"}, 1, "a packed set's name ends in .npy, unlike set.txt"},
      {{"pack", "a.xy"}, 2, "--output is required\nRun with --help for more information."},
      {{"pack", "-o", "set.npy"}, 2, "no data files given"},
  };
  for (const refusal& c : refusals) {
    process_result r = matrix(c.args);
    EXPECT_EQ(r.status, c.status) << c.message;
    EXPECT_EQ(r.err, "lagscan-matrix: " + c.message + "\n");
    EXPECT_EQ(read_file(data.path() / "set.npy"), "an earlier set");
    EXPECT_FALSE(fs::exists(data.path() / "set.npy.incomplete"));
  }
  process_result r = matrix({"pack", "--keep-going", "-o", "set.npy", "a.xy", "b.xy"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, "lagscan-matrix: leaving out b.xy (2 values, not 3)\n");
  EXPECT_EQ(read_file(data.path() / "set.names"), "a.xy\n");
}

}  // namespace
}  // namespace lagscan::testing
