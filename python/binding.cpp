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

// Runs a matrix computation without the GIL. The progress report takes the
// GIL back to let Python run its signal handlers (Ctrl-C raises
// KeyboardInterrupt there) and the caller's report(done, total); either
// raising cancels the run, and the exception is raised here once the library
// has stopped.
template <class Compute>
py::array_t<double> run_matrix(Compute compute, bool fast, int threads, const py::object& report,
                               std::vector<py::ssize_t> shape) {
  lagscan::matrix_options options;
  options.how = fast ? lagscan::method::fast : lagscan::method::exact;
  options.threads = threads;
  options.progress = [&report](const lagscan::progress_info& progress) {
    py::gil_scoped_acquire hold;
    if (PyErr_CheckSignals() != 0) return false;
    if (!report.is_none()) {
      try {
        report(progress.done, progress.total);
      } catch (py::error_already_set& raised) {
        raised.restore();
        return false;
      }
    }
    return true;
  };
  std::vector<double> result;
  bool cancelled = false;
  {
    py::gil_scoped_release free;
    try {
      result = compute(options);
    } catch (const lagscan::cancelled&) {
      cancelled = true;
    }
  }
  if (cancelled) throw py::error_already_set();
  return to_array(std::move(result), std::move(shape));
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
      py::tuple arguments = py::make_tuple(e.what(), e.path().string(), e.reason());
      PyErr_SetObject(file_failure.ptr(), arguments.ptr());
    }
  });

  m.def("version", &lagscan::version, "The library's version.");

  m.def(
      "correlation",
      [](py::handle a, py::handle b, py::handle s, int threads) {
        values x(a, "a"), y(b, "b");
        int width = window_width(s);
        py::gil_scoped_release free;
        return lagscan::correlation(x.view(), y.view(), width, threads);
      },
      py::arg("a"), py::arg("b"), py::arg("s"), py::arg("threads") = 0,
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
      [](const std::string& path) {
        std::vector<double> y;
        {
          py::gil_scoped_release free;
          y = lagscan::read_values(path);
        }
        auto count = static_cast<py::ssize_t>(y.size());
        return to_array(std::move(y), {count});
      },
      py::arg("path"), "lagscan::read_values; raises FileFailure. See lagscan.read_xy.");

  m.def(
      "all_pairs",
      [](const py::sequence& items, py::handle s, bool fast, int threads, const py::object& report) {
        std::vector<values> converted = many_values(items);
        std::vector<std::span<const double>> sets = views(converted);
        int width = window_width(s);
        auto n = static_cast<py::ssize_t>(sets.size());
        return run_matrix([&](const lagscan::matrix_options& options) { return lagscan::all_pairs(sets, width, options); },
                          fast, threads, report, {n, n});
      },
      py::arg("items"), py::arg("s"), py::arg("fast"), py::arg("threads"), py::arg("report"),
      "lagscan::all_pairs; report(done, total) or None. See lagscan.matrix.");

  m.def(
      "tile",
      [](const py::sequence& items, std::size_t rows, std::size_t files, std::size_t blocks, std::size_t number,
         py::handle s, bool fast, int threads) {
        std::vector<values> converted = many_values(items);
        std::vector<std::span<const double>> sets = views(converted);
        int width = window_width(s);
        const auto height = static_cast<py::ssize_t>(rows);
        const auto across = static_cast<py::ssize_t>(sets.size() > rows ? sets.size() - rows : rows);
        return run_matrix(
            [&](const lagscan::matrix_options& options) {
              return lagscan::tile(sets, files, blocks, number, width, options);
            },
            fast, threads, py::none(), {height, across});
      },
      py::arg("items"), py::arg("rows"), py::arg("files"), py::arg("blocks"), py::arg("number"), py::arg("s"),
      py::arg("fast"), py::arg("threads"),
      "lagscan::tile: tile `number` of `blocks` of `files` sequences; items are block R's (`rows` of them), then "
      "block C's.");
  m.def(
      "against",
      [](py::handle reference, const py::sequence& items, py::handle s, bool fast, int threads,
         const py::object& report) {
        values ref(reference, "ref");
        std::vector<values> converted = many_values(items);
        std::vector<std::span<const double>> sets = views(converted);
        int width = window_width(s);
        auto n = static_cast<py::ssize_t>(sets.size());
        return run_matrix(
            [&](const lagscan::matrix_options& options) { return lagscan::against(ref.view(), sets, width, options); },
            fast, threads, report, {n});
      },
      py::arg("ref"), py::arg("items"), py::arg("s"), py::arg("fast"), py::arg("threads"), py::arg("report"),
      "lagscan::against; report(done, total) or None. See lagscan.against.");

  // The report page (lagscan.report writes it to its file).
  m.def(
      "report_page",
      [](const py::sequence& items, py::handle s, const py::sequence& names, int digits, std::size_t clusters,
         double cluster_at, bool fast, int threads, const py::object& report) {
        std::vector<values> converted = many_values(items);
        std::vector<std::span<const double>> sets = views(converted);
        lagscan::report_options options;
        for (py::handle name : names) options.names.push_back(name.cast<std::string>());
        options.digits = digits;
        options.clusters = clusters;
        options.cluster_at = cluster_at;
        const int width = window_width(s);
        std::string page;
        run_matrix(
            [&](const lagscan::matrix_options& how) {
              options.matrix = how;
              page = lagscan::report_page(sets, width, options);
              return std::vector<double>();
            },
            fast, threads, report, {0});
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
