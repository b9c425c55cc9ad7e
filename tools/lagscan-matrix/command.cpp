#include "tools/lagscan-matrix/command.h"

#include <CLI.hpp>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <new>

#include "outputs/input_error.h"
#include "outputs/output_file.h"

namespace lagscan::matrix {

void say(const std::string& what) { std::fprintf(stderr, "%s: %s\n", program, what.c_str()); }

std::vector<std::string> read_list(const std::string& list) {
  std::ifstream file;
  std::istream* in = &std::cin;
  if (list != "-") {
    file.open(list, std::ios::binary);
    if (!file) throw failure{status_failure, "Cannot open file " + list};
    in = &file;
  }
  std::vector<std::string> paths;
  for (std::string line; std::getline(*in, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (!line.empty()) paths.push_back(line);
  }
  if (in->bad()) throw failure{status_failure, "cannot read the list " + list};
  return paths;
}

int parse(CLI::App& app, int argc, char** argv) {
  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp&) {
    std::cout << app.help();
    return 0;
  } catch (const CLI::CallForAllHelp&) {
    std::cout << app.help();
    return 0;
  } catch (const CLI::CallForVersion& version) {
    std::cout << version.what() << "\n";
    return 0;
  } catch (const CLI::ParseError& error) {
    say(error.what());
    std::fprintf(stderr, "Run with --help for more information.\n");
    return status_usage;
  }
  return -1;
}

int finish(const std::function<int()>& work) {
  try {
    return work();
  } catch (const failure& f) {
    if (!f.what.empty()) say(f.what);
    return f.status;
  } catch (const input_error& error) {
    say(error.what());
  } catch (const output_error& error) {
    say(error.what());
  } catch (const std::bad_alloc&) {
    say("out of memory");
  } catch (...) {
    say("Error");
  }
  return status_failure;
}

}  // namespace lagscan::matrix
