// lagscan._lagscan: the public C++ interface seen from Python.
//
// This file only converts and checks: numbers in (anything numpy reads as a
// 1-D sequence of reals), arrays out, C++ exceptions into Python ones. Every
// value is computed by the library; the pure-Python package around it
// (python/lagscan/__init__.py) adds the paths, the progress display and the
// choice of OSError kind.
//
// Threads: every call into the library runs with the GIL released. Long
// matrices report progress on this thread; the report takes the GIL back for
// a moment to let Python handle signals, so Ctrl-C cancels the run.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include <climits>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "lagscan/lagscan.hpp"

namespace py = pybind11;

namespace {

// What numpy makes of an argument: a 1-D float64 C-contiguous array. For an
// array that is already one, numpy hands back the array itself, so the
// library reads the caller's buffer in place; anything else (a list, other
// dtypes, a strided view) is converted into a new array that lives as long
// as this object.
class values {
 public:
  values(py::handle item, const char* name)
      : array_(py::reinterpret_borrow<py::object>(item)) {
    if (array_.ndim() != 1) {
      throw py::value_error(std::string(name) + " must be one-dimensional, not " + std::to_string(array_.ndim()) +
                            "-dimensional");
    }
  }
  std::span<const double> view() const noexcept {
    return {array_.data(), static_cast<std::size_t>(array_.shape(0))};
  }

 private:
  py::array_t<double, py::array::c_style | py::array::forcecast> array_;
};

// s as the library's int. Python integers have no bounds: one beyond int's
// range becomes the nearest int, as the command reads such a width, and the
// library refuses it with the command's words.
int window_width(const py::handle& s) {
  auto number = py::reinterpret_steal<py::int_>(PyNumber_Index(s.ptr()));
  if (!number) throw py::error_already_set();
  int overflow = 0;
  long long wide = PyLong_AsLongLongAndOverflow(number.ptr(), &overflow);
  if (overflow > 0 || wide > INT_MAX) return INT_MAX;
  if (overflow < 0 || wide < INT_MIN) return INT_MIN;
  return static_cast<int>(wide);
}

// A std::vector handed to numpy without a copy: the array owns it.
template <class T>
py::array_t<T> to_array(std::vector<T>&& data, std::vector<py::ssize_t> shape) {
  auto* owned = new std::vector<T>(std::move(data));
  py::capsule owner(owned, [](void* p) noexcept { delete static_cast<std::vector<T>*>(p); });
  return py::array_t<T>(std::move(shape), owned->data(), owner);
}

// A thread count as the library takes it: Python integers beyond int's
// range are refused here with the library's own words.
int thread_count(const py::handle& threads) {
  auto number = py::reinterpret_steal<py::int_>(PyNumber_Index(threads.ptr()));
  if (!number) throw py::error_already_set();
  int overflow = 0;
  long long wide = PyLong_AsLongLongAndOverflow(number.ptr(), &overflow);
  if (overflow != 0 || wide < INT_MIN || wide > INT_MAX) {
    throw py::value_error("threads must be from 0 (all processors) to " + std::to_string(lagscan::max_threads));
  }
  return static_cast<int>(wide);
}

std::vector<values> many_values(const py::sequence& items) {
  std::vector<values> converted;
  converted.reserve(items.size());
  for (py::handle item : items) converted.emplace_back(item, "each item");
  return converted;
}

std::vector<std::span<const double>> views(const std::vector<values>& converted) {
  std::vector<std::span<const double>> spans;
  spans.reserve(converted.size());
  for (const values& v : converted) spans.push_back(v.view());
  return spans;
}

// Runs a computation on many sequences without the GIL. The progress
// report takes the GIL back to let Python run its signal handlers (Ctrl-C
// raises KeyboardInterrupt there) and the caller's report(done, total).
// Either raising cancels the run: the Python exception is kept aside (not
// left set, since the library may still ask again and the GIL-free part
// must not see it), and raised here once the library has stopped, whether
// it stopped early or had already finished.
template <class Compute>
auto run_on_sets(Compute compute, bool fast, bool center, int threads, const py::object& report) {
  lagscan::matrix_options options;
  options.how = fast ? lagscan::method::fast : lagscan::method::exact;
  options.threads = threads;
  options.center = center;
  std::unique_ptr<py::error_already_set> raised;
  options.progress = [&report, &raised](const lagscan::progress_info& progress) {
    py::gil_scoped_acquire hold;
    if (raised) return false;
    try {
      if (PyErr_CheckSignals() != 0) throw py::error_already_set();
      if (!report.is_none()) report(progress.done, progress.total);
    } catch (py::error_already_set& e) {
      raised = std::make_unique<py::error_already_set>(std::move(e));
      return false;
    }
    return true;
  };
  decltype(compute(options)) result;
  bool cancelled = false;
  {
    py::gil_scoped_release free;
    try {
      result = compute(options);
    } catch (const lagscan::cancelled&) {
      cancelled = true;
    }
  }
  if (raised) throw std::move(*raised);
  if (cancelled) throw py::value_error("cancelled");  // not reached: only a report stops the run
  return result;
}

// An N x M table as a numpy array.
py::array_t<double> table(std::vector<double>&& values, std::size_t rows, std::size_t columns) {
  return to_array(std::move(values), {static_cast<py::ssize_t>(rows), static_cast<py::ssize_t>(columns)});
}

// A table the caller holds, as the library reads it: N x N float64.
class square_table {
 public:
  explicit square_table(py::handle item) : array_(py::reinterpret_borrow<py::object>(item)) {
    if (array_.ndim() != 2 || array_.shape(0) != array_.shape(1)) {
      throw py::value_error("table must be a square two-dimensional array");
    }
  }
  lagscan::similarity_table view() const {
    const auto n = static_cast<std::size_t>(array_.shape(0));
    return {{array_.data(), n * n}, n};
  }

 private:
  py::array_t<double, py::array::c_style | py::array::forcecast> array_;
};

py::tuple grouping_tuple(lagscan::grouping&& g) {
  auto as_positions = [](const std::vector<std::size_t>& v) {
    std::vector<std::int64_t> signed_values(v.begin(), v.end());
    const auto count = static_cast<py::ssize_t>(signed_values.size());
    return to_array(std::move(signed_values), {count});
  };
  return py::make_tuple(as_positions(g.labels), as_positions(g.sizes), as_positions(g.medoids));
}

}  // namespace

PYBIND11_MODULE(_lagscan, m) {
  m.doc() = "The compiled part of lagscan; use the package `lagscan` instead.";

  // A file the loader could not use: the package turns it into the right
  // OSError kind or a DataFileError. Arguments: the library's message, the
  // path, the reason.
  // The module holds the class; this handle is left to it, not released at
  // exit after the interpreter.
  static py::handle file_failure =
      py::exception<lagscan::file_error>(m, "FileFailure", PyExc_Exception).release();
  file_failure.attr("__doc__") = "lagscan::file_error: args (message, path, reason). The package raises OSError "
                                 "kinds or DataFileError instead.";
  py::register_exception_translator([](std::exception_ptr raised) {
    try {
      if (raised) std::rethrow_exception(raised);
    } catch (const lagscan::file_error& e) {
      // The path as bytes, the message in the file system's encoding: a
      // path need not be UTF-8.
      auto message = py::reinterpret_steal<py::object>(PyUnicode_DecodeFSDefault(e.what()));
      if (!message) return;  // the decoding's own error stands
      py::tuple arguments = py::make_tuple(message, py::bytes(e.path().string()), e.reason());
      PyErr_SetObject(file_failure.ptr(), arguments.ptr());
    }
  });

  m.def("version", &lagscan::version, "The library's version.");

  m.def(
      "correlation",
      [](py::handle a, py::handle b, py::handle s, py::handle threads) {
        values x(a, "a"), y(b, "b");
        int width = window_width(s);
        int count = thread_count(threads);
        py::gil_scoped_release free;
        return lagscan::correlation(x.view(), y.view(), width, count);
      },
      py::arg("a"), py::arg("b"), py::arg("s"), py::arg("threads") = 1,
      "lagscan::correlation on up to `threads` threads (0: all); see lagscan.correlation.");

  m.def(
      "lag_sum",
      [](py::handle a, py::handle b, py::handle s) {
        values x(a, "a"), y(b, "b");
        int width = window_width(s);
        py::gil_scoped_release free;
        return lagscan::lag_sum(x.view(), y.view(), width);
      },
      py::arg("a"), py::arg("b"), py::arg("s"), "lagscan::lag_sum; see lagscan.lag_sum.");

  m.def(
      "profile",
      [](py::handle a, py::handle b, py::handle s) {
        values x(a, "a"), y(b, "b");
        int width = window_width(s);
        lagscan::lag_profile p;
        {
          py::gil_scoped_release free;
          p = lagscan::profile(x.view(), y.view(), width);
        }
        auto lags = static_cast<py::ssize_t>(p.lags.size());
        return py::make_tuple(to_array(std::move(p.lags), {lags}), to_array(std::move(p.sums), {lags}),
                              to_array(std::move(p.normalised), {lags}), p.best_lag);
      },
      py::arg("a"), py::arg("b"), py::arg("s"),
      "lagscan::profile as (lags, sums, normalised, best_lag); see lagscan.lag_profile.");

  m.def(
      "read_values",
      [](const py::bytes& path, bool with_x) -> py::object {
        // The file system's own bytes: a name that is not UTF-8 reaches the
        // file as it is.
        const std::filesystem::path name{std::string(path)};
        std::vector<double> x;
        std::vector<double> y;
        {
          py::gil_scoped_release free;
          y = with_x ? lagscan::read_values(name, x) : lagscan::read_values(name);
        }
        auto count = static_cast<py::ssize_t>(y.size());
        if (!with_x) return to_array(std::move(y), {count});
        return py::make_tuple(to_array(std::move(x), {count}), to_array(std::move(y), {count}));
      },
      py::arg("path"), py::arg("x") = false,
      "lagscan::read_values on the path's bytes: y, or (x, y) with x=True; raises FileFailure. See lagscan.read_xy.");

  m.def(
      "all_pairs",
      [](const py::sequence& items, py::handle s, bool fast, py::handle threads, const py::object& report,
         bool center) {
        std::vector<values> converted = many_values(items);
        std::vector<std::span<const double>> sets = views(converted);
        const int width = window_width(s);
        const int count = thread_count(threads);
        return table(run_on_sets([&](const lagscan::matrix_options& o) { return lagscan::all_pairs(sets, width, o); },
                                 fast, center, count, report),
                     sets.size(), sets.size());
      },
      py::arg("items"), py::arg("s"), py::arg("fast"), py::arg("threads"), py::arg("report"),
      py::arg("center") = false, "lagscan::all_pairs; report(done, total) or None. See lagscan.matrix.");

  m.def(
      "between",
      [](const py::sequence& a_items, const py::sequence& b_items, py::handle s, bool fast, py::handle threads,
         const py::object& report, bool center) {
        std::vector<values> a_converted = many_values(a_items);
        std::vector<values> b_converted = many_values(b_items);
        std::vector<std::span<const double>> a = views(a_converted);
        std::vector<std::span<const double>> b = views(b_converted);
        const int width = window_width(s);
        const int count = thread_count(threads);
        return table(
            run_on_sets([&](const lagscan::matrix_options& o) { return lagscan::all_pairs(a, b, width, o); }, fast,
                        center, count, report),
            a.size(), b.size());
      },
      py::arg("a"), py::arg("b"), py::arg("s"), py::arg("fast"), py::arg("threads"), py::arg("report"),
      py::arg("center") = false, "lagscan::all_pairs of set A against set B. See lagscan.matrix(other=...).");

  m.def(
      "condensed",
      [](const py::sequence& items, py::handle s, bool distance, bool fast, py::handle threads,
         const py::object& report, bool center) {
        std::vector<values> converted = many_values(items);
        std::vector<std::span<const double>> sets = views(converted);
        const int width = window_width(s);
        const int count = thread_count(threads);
        const lagscan::measure kind = distance ? lagscan::measure::distance : lagscan::measure::similarity;
        std::vector<double> values_out = run_on_sets(
            [&](const lagscan::matrix_options& o) { return lagscan::condensed(sets, width, kind, o); }, fast, center,
            count, report);
        const auto length = static_cast<py::ssize_t>(values_out.size());
        return to_array(std::move(values_out), {length});
      },
      py::arg("items"), py::arg("s"), py::arg("distance"), py::arg("fast"), py::arg("threads"), py::arg("report"),
      py::arg("center") = false, "lagscan::condensed. See lagscan.condensed.");

  m.def(
      "nearest",
      [](const py::sequence& items, py::handle s, std::size_t top, bool fast, py::handle threads,
         const py::object& report, bool center) {
        std::vector<values> converted = many_values(items);
        std::vector<std::span<const double>> sets = views(converted);
        const int width = window_width(s);
        const int count = thread_count(threads);
        lagscan::neighbours found = run_on_sets(
            [&](const lagscan::matrix_options& o) { return lagscan::nearest(sets, width, top, o); }, fast, center,
            count, report);
        // Positions as numpy's signed integers, the padding as -1.
        std::vector<std::int64_t> positions(found.positions.size());
        for (std::size_t i = 0; i < positions.size(); ++i) {
          positions[i] = found.positions[i] == lagscan::no_item ? -1 : static_cast<std::int64_t>(found.positions[i]);
        }
        const auto n = static_cast<py::ssize_t>(sets.size());
        const auto k = static_cast<py::ssize_t>(top);
        return py::make_tuple(to_array(std::move(positions), {n, k}), to_array(std::move(found.values), {n, k}));
      },
      py::arg("items"), py::arg("s"), py::arg("top"), py::arg("fast"), py::arg("threads"), py::arg("report"),
      py::arg("center") = false, "lagscan::nearest as (positions, values). See lagscan.nearest.");

  m.def(
      "linkage",
      [](const py::sequence& items, py::handle s, bool fast, py::handle threads, const py::object& report,
         bool center) {
        std::vector<values> converted = many_values(items);
        std::vector<std::span<const double>> sets = views(converted);
        const int width = window_width(s);
        const int count = thread_count(threads);
        std::vector<double> rows = run_on_sets(
            [&](const lagscan::matrix_options& o) { return lagscan::linkage(sets, width, o); }, fast, center, count,
            report);
        return table(std::move(rows), sets.empty() ? 0 : sets.size() - 1, 4);
      },
      py::arg("items"), py::arg("s"), py::arg("fast"), py::arg("threads"), py::arg("report"),
      py::arg("center") = false, "lagscan::linkage of the sequences. See lagscan.linkage.");

  m.def(
      "linkage_of_table",
      [](py::handle similarities) {
        square_table held(similarities);
        std::vector<double> rows;
        {
          py::gil_scoped_release free;
          rows = lagscan::linkage(held.view());
        }
        const std::size_t n = held.view().n;
        return table(std::move(rows), n == 0 ? 0 : n - 1, 4);
      },
      py::arg("table"), "lagscan::linkage of an N x N table. See lagscan.linkage.");

  m.def(
      "groups",
      [](const py::sequence& items, py::handle s, std::size_t k, double at, bool by_count, bool fast,
         py::handle threads, bool center) {
        std::vector<values> converted = many_values(items);
        std::vector<std::span<const double>> sets = views(converted);
        const int width = window_width(s);
        const int count = thread_count(threads);
        return grouping_tuple(run_on_sets(
            [&](const lagscan::matrix_options& o) {
              return by_count ? lagscan::groups(sets, width, k, o) : lagscan::groups_at(sets, width, at, o);
            },
            fast, center, count, py::none()));
      },
      py::arg("items"), py::arg("s"), py::arg("k"), py::arg("at"), py::arg("by_count"), py::arg("fast"),
      py::arg("threads"), py::arg("center") = false,
      "lagscan::groups (by_count) or groups_at as (labels, sizes, medoids). See lagscan.groups.");

  m.def(
      "groups_of_table",
      [](py::handle similarities, std::size_t k, double at, bool by_count) {
        square_table held(similarities);
        lagscan::grouping g;
        {
          py::gil_scoped_release free;
          g = by_count ? lagscan::groups(held.view(), k) : lagscan::groups_at(held.view(), at);
        }
        return grouping_tuple(std::move(g));
      },
      py::arg("table"), py::arg("k"), py::arg("at"), py::arg("by_count"),
      "lagscan::groups or groups_at of an N x N table as (labels, sizes, medoids).");

  m.def(
      "precomputed",
      [](py::handle similarities) {
        square_table held(similarities);
        std::vector<double> distances;
        {
          py::gil_scoped_release free;
          distances = lagscan::precomputed(held.view());
        }
        return table(std::move(distances), held.view().n, held.view().n);
      },
      py::arg("table"), "lagscan::precomputed. See lagscan.precomputed.");

  m.def(
      "tile",
      [](const py::sequence& items, std::size_t files, std::size_t blocks, std::size_t number, py::handle s,
         bool fast, py::handle threads, bool center) {
        // The shape is the library's, checked before any item is converted.
        const lagscan::tile_size shape = lagscan::tile_shape(files, blocks, number);
        std::vector<values> converted = many_values(items);
        std::vector<std::span<const double>> sets = views(converted);
        const int width = window_width(s);
        const int count = thread_count(threads);
        return table(run_on_sets(
                         [&](const lagscan::matrix_options& o) {
                           return lagscan::tile(sets, files, blocks, number, width, o);
                         },
                         fast, center, count, py::none()),
                     shape.rows, shape.columns);
      },
      py::arg("items"), py::arg("files"), py::arg("blocks"), py::arg("number"), py::arg("s"), py::arg("fast"),
      py::arg("threads"), py::arg("center") = false,
      "lagscan::tile: tile `number` of `blocks` of `files` sequences; items are block R's, then block C's.");

  m.def(
      "against",
      [](py::handle reference, const py::sequence& items, py::handle s, bool fast, py::handle threads,
         const py::object& report, bool center) {
        values ref(reference, "ref");
        std::vector<values> converted = many_values(items);
        std::vector<std::span<const double>> sets = views(converted);
        const int width = window_width(s);
        const int count = thread_count(threads);
        std::vector<double> row = run_on_sets(
            [&](const lagscan::matrix_options& o) { return lagscan::against(ref.view(), sets, width, o); }, fast,
            center, count, report);
        const auto n = static_cast<py::ssize_t>(row.size());
        return to_array(std::move(row), {n});
      },
      py::arg("ref"), py::arg("items"), py::arg("s"), py::arg("fast"), py::arg("threads"), py::arg("report"),
      py::arg("center") = false, "lagscan::against; report(done, total) or None. See lagscan.against.");

  // The report page (lagscan.report writes it to its file).
  m.def(
      "report_page",
      [](const py::sequence& items, py::handle s, const py::sequence& names, int digits, std::size_t clusters,
         double cluster_at, bool fast, py::handle threads, const py::object& report) {
        std::vector<values> converted = many_values(items);
        std::vector<std::span<const double>> sets = views(converted);
        lagscan::report_options options;
        for (py::handle name : names) options.names.push_back(name.cast<std::string>());
        options.digits = digits;
        options.clusters = clusters;
        options.cluster_at = cluster_at;
        const int width = window_width(s);
        const int count = thread_count(threads);
        std::string page = run_on_sets(
            [&](const lagscan::matrix_options& how) {
              options.matrix = how;
              return lagscan::report_page(sets, width, options);
            },
            fast, false, count, report);
        return py::bytes(page);
      },
      py::arg("items"), py::arg("s"), py::arg("names"), py::arg("digits"), py::arg("clusters"), py::arg("cluster_at"),
      py::arg("fast"), py::arg("threads"), py::arg("report"),
      "lagscan::report_page: the page's bytes. See lagscan.report.");

  // For the tests: the address of the values the library would read for a,
  // which is a's own buffer exactly when no copy is made.
  m.def(
      "_input_address",
      [](py::handle a) { return reinterpret_cast<std::uintptr_t>(values(a, "a").view().data()); }, py::arg("a"),
      "The address of the values the library reads for a (for the tests).");
}
