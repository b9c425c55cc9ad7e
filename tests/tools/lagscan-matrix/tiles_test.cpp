// Tiled runs and packed sets, as users run them: the parts of every tile
// (--tile T/K), merged, are the single run's bytes in every form, exact and
// --fast; a tile reads only its own blocks' files; a packed set stands for
// its files anywhere; and a damaged packed set, a missing, doubled or
// foreign part, or a bad tile gets a message naming it, the status of a
// failure and no output that looks complete.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "tools/lagscan-matrix/matrix_fixture.h"

#ifndef _WIN32
#include <dirent.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#endif

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

// Whether a temporary output file (NAME.<8 hex digits>.tmp) is in the
// folder.
bool holds_a_temporary_file(const temp_dir& data) {
  for (const auto& entry : fs::directory_iterator(data.path())) {
    const std::string name = entry.path().filename().string();
    if (name.size() > 4 && name.compare(name.size() - 4, 4, ".tmp") == 0) return true;
  }
  return false;
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
    EXPECT_FALSE(holds_a_temporary_file(data)) << c.message;
  }
  process_result r = matrix({"merge", "part-2-1", "part-2-3", "part-2-2", "-o", "old.txt"});
  EXPECT_EQ(r.status, 0) << r.err;
  // The merged file is text, with the system's line ends, as -o writes.
  EXPECT_EQ(with_lf_line_ends(read_file(data.path() / "old.txt")), matrix(with({"--format", "long", "5"}, files)).out);
}

// A part's bytes: its head (the ten words), then what follows it.
std::string part_bytes(const std::vector<std::uint64_t>& head, const std::string& rest) {
  std::string bytes = "LGSPART1";
  for (std::uint64_t word : head) bytes.append(reinterpret_cast<const char*>(&word), 8);
  return bytes + rest;
}

std::string word_bytes(std::uint64_t word) { return std::string(reinterpret_cast<const char*>(&word), 8); }

// A head's numbers are checked against the file's size and the number of
// parts before anything of their size is taken: a crafted part of a few
// bytes gets its message at once, in little memory.
TEST_F(tiled_run, merge_refuses_a_crafted_part_without_taking_what_its_head_claims) {
  // files, blocks, R, C, count, S, fast, top, hash, names' bytes
  data.write("many-blocks", part_bytes({0, 1u << 16, 1, 1, 3, 3, 0, 0, 0, 0}, ""));
  data.write("many-files", part_bytes({std::uint64_t{1} << 40, 1, 1, 1, 3, 3, 0, 0, 0, 0}, ""));
  data.write("cut-short", part_bytes({std::uint64_t{1} << 20, 1, 1, 1, 3, 3, 0, 0, 0, 0}, ""));
  data.write("huge-body", part_bytes({std::uint64_t{1} << 33, 1, 1, 1, 3, 3, 0, 0, 0, 16}, "12345678abcdefgh"));
  data.write("huge-top", part_bytes({2, 1, 1, 1, 3, 3, 0, std::uint64_t{1} << 40, 0, 0}, ""));
  // Two names in 16 bytes: the first takes them all.
  data.write("names-run-out", part_bytes({2, 1, 1, 1, 3, 3, 0, 0, 0, 16}, word_bytes(8) + "abcdefgh" + word_bytes(0)));
  data.write("name-too-long", part_bytes({1, 1, 1, 1, 3, 3, 0, 0, 0, 16}, word_bytes(9) + "abcdefgh"));
  struct refusal {
    const char* part;
    std::string message;
  };
  const std::vector<refusal> refusals = {
      {"many-blocks", "2147516415 of 2147516416 tiles have no part: 2/2147516416 (block 1 against block 2), "
                      "3/2147516416 (block 1 against block 3), 4/2147516416 (block 1 against block 4), "
                      "5/2147516416 (block 1 against block 5), 6/2147516416 (block 1 against block 6), "
                      "7/2147516416 (block 1 against block 7), 8/2147516416 (block 1 against block 8), "
                      "9/2147516416 (block 1 against block 9), ..."},
      {"many-files", "many-files: its head is damaged"},
      {"cut-short", "cut-short: 88 bytes, but its head makes 4398042316888 (cut short?)"},
      {"huge-body", "huge-body: its head is damaged"},
      {"huge-top", "huge-top: its head is damaged"},
      {"names-run-out", "names-run-out: its names are damaged"},
      {"name-too-long", "name-too-long: its names are damaged"},
  };
  std::function<void()> in_little_memory;
#if !defined(_WIN32) && !defined(LAGSCAN_SANITIZE)
  // (The sanitizer reserves its shadow beyond any such limit: there the
  // refusals alone are checked.)
  // Far less than the old checks took for many-blocks (1 GiB for 2^14
  // blocks, 16 GiB for 2^16).
  in_little_memory = [] {
    const rlim_t bytes = rlim_t{512} << 20;
    struct rlimit limit{bytes, bytes};
    setrlimit(RLIMIT_AS, &limit);
  };
#endif
  for (const refusal& c : refusals) {
    process_result r = matrix({"merge", c.part}, in_little_memory);
    EXPECT_EQ(r.status, 1) << c.part;
    EXPECT_EQ(r.out, "") << c.part;
    EXPECT_EQ(r.err, "lagscan-matrix: " + c.message + "\n");
  }
}

// Every list of nearest is checked before the first line is written, so
// that a damaged part late in the set prints nothing, on standard output
// too.
TEST_F(tiled_run, merge_checks_every_list_of_nearest_before_it_writes) {
  const std::vector<std::string> files = write_files(data, 7, 16, 12);
  const std::vector<std::string> parts = run_tiles({"--top", "2", "5"}, 2, files);
  // Tile 3, (2, 2): its first file's first entry names file 0, of block 1.
  std::string part = read_file(data.path() / "part-2-3");
  std::uint64_t names_bytes = 0;
  std::memcpy(&names_bytes, part.data() + 80, 8);
  const std::string zero = word_bytes(0);
  part.replace(static_cast<std::size_t>(88 + names_bytes), 8, zero);
  data.write("part-2-3", part);
  process_result r = matrix(with({"merge"}, parts));
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, "lagscan-matrix: part-2-3: its lists of nearest are damaged\n");
}

#ifndef _WIN32
// Merging K blocks never holds K parts open at once: a set of 12 blocks
// merges under a limit of 10 open files.
TEST_F(tiled_run, merge_opens_its_parts_in_turn) {
  const std::vector<std::string> files = write_files(data, 30, 6, 13);
  const std::vector<std::string> parts = run_tiles({"3"}, 12, files);
  process_result merged = matrix(with({"merge"}, parts), [] {
    struct rlimit limit{rlim_t{10}, rlim_t{10}};
    setrlimit(RLIMIT_NOFILE, &limit);
  });
  EXPECT_EQ(merged.status, 0) << merged.err;
  EXPECT_EQ(merged.err, "");
  EXPECT_EQ(merged.out, matrix(with({"--format", "long", "3"}, files)).out);
}
#endif

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

// K >= 1414 has tiles numbered past 999999; each of them must be a tile a
// task can run (here of empty blocks: 3 files in 1414 blocks).
TEST_F(tiled_run, the_last_tiles_of_many_blocks_can_be_run) {
  const std::vector<std::string> files = write_files(data, 3, 8, 11);
  for (const char* tile : {"1000405/1414", "1000000/1414"}) {
    process_result r = matrix(with({"--tile", tile, "-o", "p", "3"}, files));
    EXPECT_EQ(r.status, 0) << tile << ": " << r.err;
    EXPECT_EQ(r.err, "") << tile;
    EXPECT_TRUE(fs::exists(data.path() / "p")) << tile;
    fs::remove(data.path() / "p");
  }
  process_result r = matrix(with({"--tile", "1/4294967296", "-o", "p", "3"}, files));
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.err, "lagscan-matrix: --tile 1/4294967296: give T/K, tile T of the K (K + 1) / 2 tiles of K blocks\n");
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

// A set is named as any data file is: "\" separates folders too, for the
// set and its names beside it, whether it is packed or read.
TEST_F(tiled_run, a_packed_set_named_with_backslashes_is_found) {
  const std::vector<std::string> files = write_files(data, 4, 12, 10);
  fs::create_directory(data.path() / "sub");
  process_result packed = matrix(with({"pack", "-o", "sub\\set.npy"}, files));
  ASSERT_EQ(packed.status, 0) << packed.err;
  EXPECT_TRUE(fs::exists(data.path() / "sub" / "set.npy"));
  EXPECT_TRUE(fs::exists(data.path() / "sub" / "set.names"));
  const process_result text = matrix(with({"--format", "long", "5"}, files));
  for (const char* set : {"sub\\set.npy", "sub/set.npy"}) {
    process_result r = matrix({"--format", "long", "5", set});
    EXPECT_EQ(r.status, 0) << set << ": " << r.err;
    EXPECT_EQ(r.err, "") << set;
    EXPECT_EQ(r.out, text.out) << set;
  }
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
      {npy_file("{'descr': '<f8', 'fortran_order': False, 'shape': (0, 1073741825), }", 0), "",
       "set.npy: its shape (0, 1073741825) is too large"},
      {npy_file(good, 6), "a\n", "set.names holds 1 names, but set.npy holds 2 rows"},
      {npy_file(good, 6), "a\nb\nc\n", "set.names holds 3 names, but set.npy holds 2 rows"},
      {npy_file(good, 6), "a\n\nb\n", "set.names: line 2 names no file"},
      {npy_file(good, 6), "a\r\nb\rc\r\n", "set.names: line 2 holds a carriage return in its name"},
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
    EXPECT_FALSE(holds_a_temporary_file(data)) << c.message;
  }
  process_result r = matrix({"pack", "--keep-going", "-o", "set.npy", "a.xy", "b.xy"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, "lagscan-matrix: leaving out b.xy (2 values, not 3)\n");
  EXPECT_EQ(read_file(data.path() / "set.names"), "a.xy\n");
}

// merge, --tile and pack write their outputs as every output is written
// (output_file): refused over an input, devices and pipes written
// directly, a temporary file of a random name made only where no file is,
// removed at a signal, and several outputs replaced together.

// merge's -o is refused over one of its parts, as a run's -o is over an
// input: status 2, the part as it was.
TEST_F(tiled_run, merge_refuses_an_output_that_is_one_of_its_parts) {
  const std::vector<std::string> files = write_files(data, 7, 16, 14);
  const std::vector<std::string> parts = run_tiles({"5"}, 2, files);
  const std::string before = read_file(data.path() / "part-2-1");
  process_result r = matrix(with({"merge", "-o", "part-2-1"}, parts));
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.err, "lagscan-matrix: -o part-2-1 is also an input: an output never overwrites an input\n");
  EXPECT_EQ(read_file(data.path() / "part-2-1"), before);
  data.write("list", "part-2-1\npart-2-2\npart-2-3\n");
  r = matrix({"merge", "-o", "list", "--files-from", "list"});
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.err, "lagscan-matrix: -o list is also an input: an output never overwrites an input\n");
}

// A packed set's names are an input too, and pack's two outputs are
// checked before either is replaced.
TEST_F(tiled_run, a_packed_sets_names_are_an_input_and_packs_outputs_are_replaced_together) {
  const std::vector<std::string> files = write_files(data, 4, 12, 15);
  ASSERT_EQ(matrix(with({"pack", "-o", "set.npy"}, files)).status, 0);
  const std::string names = read_file(data.path() / "set.names");
  const std::string rows = read_file(data.path() / "set.npy");
  process_result r = matrix({"-q", "-o", "set.names", "3", "set.npy"});
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.err, "lagscan-matrix: -o set.names is also an input: an output never overwrites an input\n");
  EXPECT_EQ(read_file(data.path() / "set.names"), names);
  // The rows cannot be replaced: the names stay as they were too.
  make_read_only(data.path() / "set.npy");
  r = matrix(with({"pack", "-o", "set.npy"}, std::vector<std::string>(files.begin(), files.begin() + 2)));
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "lagscan-matrix: cannot write set.npy\n");
  EXPECT_EQ(read_file(data.path() / "set.names"), names);
  EXPECT_EQ(read_file(data.path() / "set.npy"), rows);
}

#ifndef _WIN32
// Storage that runs out while --center gives each packed row its own copy,
// inside the threads' loop, ends the run with "out of memory", not with
// std::terminate: a row of 2^27 values (1 GiB, a sparse file) in an address
// space of 1.4 GB, which holds the mapping but not the copy too.
TEST_F(tiled_run, storage_that_runs_out_while_centring_ends_in_a_message) {
#if defined(LAGSCAN_SANITIZE)
  GTEST_SKIP() << "the sanitizer reserves its shadow beyond an address-space limit; the optimised build runs this";
#endif
  // Padded as pack pads it, so that the row is used in place in the mapping.
  std::string dict = "{'descr': '<f8', 'fortran_order': False, 'shape': (1, 134217728), }";
  dict.append((64 - (10 + dict.size() + 1) % 64) % 64, ' ');
  const std::string header = npy_file(dict, 0);
  data.write("big.npy", header);
  fs::resize_file(data.path() / "big.npy", header.size() + (std::uintmax_t{1} << 30));
  data.write("big.names", "big.xy\n");
  process_result r = matrix({"--center", "-q", "--threads", "2", "3", "big.npy"}, [] {
    const rlim_t bytes = rlim_t{1400} << 20;
    struct rlimit limit{bytes, bytes};
    setrlimit(RLIMIT_AS, &limit);
  });
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, "lagscan-matrix: out of memory\n");
}

// merge writes a pipe or a link to one directly, and follows no link that
// another program placed beside its output: its temporary file is made
// under a random name, only where no file is.
TEST_F(tiled_run, merge_writes_pipes_directly_and_follows_no_planted_link) {
  const std::vector<std::string> files = write_files(data, 7, 16, 16);
  const std::vector<std::string> parts = run_tiles({"5"}, 2, files);
  const std::string table = matrix(with({"merge"}, parts)).out;
  // A named pipe, read by another program (which gives up after 20 s).
  ASSERT_EQ(::mkfifo((data.path() / "pipe").string().c_str(), 0600), 0);
  std::string merge = "'" + std::string(LAGSCAN_MATRIX_EXE) + "' merge";
  for (const std::string& part : parts) merge += " " + part;
  process_result r = run_program(
      "/bin/sh", {"-c", "timeout 20 cat pipe > from-pipe.txt & " + merge + " -o pipe; status=$?; wait; exit $status"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(read_file(data.path() / "from-pipe.txt"), table);
  EXPECT_TRUE(fs::is_fifo(data.path() / "pipe"));
  // A link to the program's own standard output, a pipe here.
  fs::create_symlink("/proc/self/fd/1", data.path() / "out");
  r = run_program("/bin/sh", {"-c", merge + " -o out | cat > through-pipe.txt"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(read_file(data.path() / "through-pipe.txt"), table);
  EXPECT_TRUE(fs::is_symlink(data.path() / "out"));
  // The name the old temporary file had, planted as a link to a victim.
  data.write("victim.txt", "not to be written\n");
  fs::create_symlink("victim.txt", data.path() / "all.txt.incomplete");
  r = matrix(with({"merge", "-o", "all.txt"}, parts));
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(read_file(data.path() / "victim.txt"), "not to be written\n");
  EXPECT_EQ(read_file(data.path() / "all.txt"), table);
}

// Stopped by SIGTERM (as a Slurm time limit stops it) while it writes, merge
// leaves no temporary file behind.
TEST_F(tiled_run, merge_stopped_by_a_signal_leaves_no_temporary_file) {
  // A packed set of 3000 files of 4 values: one part of 4.5 million pairs,
  // whose merge takes seconds.
  const std::size_t rows = 3000;
  std::string bytes = npy_file("{'descr': '<f8', 'fortran_order': False, 'shape': (3000, 4), }", 0);
  std::mt19937_64 rng(17);
  std::uniform_real_distribution<double> value(-1.0, 1.0);
  std::string names;
  for (std::size_t i = 0; i < rows; ++i) {
    for (int k = 0; k < 4; ++k) {
      const double v = value(rng);
      bytes.append(reinterpret_cast<const char*>(&v), 8);
    }
    names += numbered_file("f", i) + "\n";
  }
  data.write("set.npy", bytes);
  data.write("set.names", names);
  ASSERT_EQ(matrix({"--tile", "1/1", "-o", "part", "--threads", "2", "1", "set.npy"}).status, 0);
  auto folder_names = [this] {
    std::set<std::string> found;
    for (const auto& entry : fs::directory_iterator(data.path())) found.insert(entry.path().filename().string());
    return found;
  };
  const auto before = folder_names();
  const std::string folder_path = data.path().string();
  process_result r = matrix({"merge", "-o", "all.txt", "part"}, [folder_path] {
    // A helper waits until the temporary file is there (20 s at most), then
    // stops the program.
    const pid_t program = ::getpid();
    if (::fork() != 0) return;
    for (int look = 0; look < 4000; ++look) {
      bool found = false;
      if (DIR* dir = ::opendir(folder_path.c_str())) {
        while (const dirent* entry = ::readdir(dir)) {
          const std::size_t length = std::strlen(entry->d_name);
          found = found || (length > 4 && std::strcmp(entry->d_name + length - 4, ".tmp") == 0);
        }
        ::closedir(dir);
      }
      if (found) break;
      ::usleep(5000);
    }
    ::kill(program, SIGTERM);
    ::_exit(0);
  });
  EXPECT_EQ(r.status, -1) << "ended by its signal: " << r.err;
  EXPECT_EQ(folder_names(), before);
}
#endif

}  // namespace
}  // namespace lagscan::testing
