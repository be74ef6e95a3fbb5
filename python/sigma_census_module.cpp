// The Python module sigma_census: a thin binding of the C++ API. Bounds are
// any Python int, refused with ValueError outside [1, 2^63 - 1]; the GIL is
// released while computing, and Ctrl-C raises KeyboardInterrupt within about
// a second, the calculation abandoned.
#include <fcntl.h>
#include <poll.h>
#include <pybind11/functional.h>
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>
#include <unistd.h>

#include <atomic>
#include <csignal>
#include <cstdint>
#include <optional>
#include <string>
#include <thread>

#include "sigma_census/sigma_census.hpp"

namespace py = pybind11;

namespace {

// A Python int as a value of the census, or ValueError saying why not.
std::int64_t valueOf(const py::handle& number, const char* name) {
  if (!PyLong_Check(number.ptr()) || PyBool_Check(number.ptr()))
    throw py::type_error(std::string(name) + " must be an int");
  int overflow = 0;
  const long long value = PyLong_AsLongLongAndOverflow(number.ptr(), &overflow);
  if (overflow != 0 || value < 1)
    throw py::value_error(std::string(name) + " = " + py::str(number).cast<std::string>() +
                          ": outside [1, 9223372036854775807]");
  return value;
}

// While a call computes without the GIL, Python's own SIGINT handler still
// runs at the C level and writes the signal's number to the wakeup file
// descriptor: a thread of this watch reads it there and sets the call's stop
// flag, so that Ctrl-C ends the call within moments whatever it is doing.
// Where the wakeup descriptor cannot be set (not the main thread), Ctrl-C is
// seen only where the call hands over progress or results.
class SignalWatch {
 public:
  explicit SignalWatch(std::atomic<bool>& stop) : stop_(stop) {
    int ends[2];
    if (::pipe2(ends, O_NONBLOCK | O_CLOEXEC) != 0) return;
    try {
      previous_ = py::module_::import("signal").attr("set_wakeup_fd")(ends[1],
                                                                      py::arg("warn_on_full_buffer") = false);
    } catch (py::error_already_set&) {
      ::close(ends[0]);
      ::close(ends[1]);
      return;
    }
    read_ = ends[0];
    write_ = ends[1];
    forward_ = previous_.cast<int>();
    watcher_ = std::thread([this] { watch(); });
  }
  ~SignalWatch() {
    if (read_ < 0) return;
    finished_.store(true);
    watcher_.join();
    try {
      py::module_::import("signal").attr("set_wakeup_fd")(previous_);
    } catch (py::error_already_set&) {
      // The old descriptor is gone: nothing to give back.
    }
    ::close(read_);
    ::close(write_);
  }
  SignalWatch(const SignalWatch&) = delete;
  SignalWatch& operator=(const SignalWatch&) = delete;

 private:
  void watch() {
    while (!finished_.load()) {
      pollfd wait{read_, POLLIN, 0};
      if (::poll(&wait, 1, 50) <= 0) continue;
      unsigned char signals[64];
      const ssize_t got = ::read(read_, signals, sizeof signals);
      for (ssize_t k = 0; k < got; ++k)
        if (signals[k] == SIGINT) stop_.store(true);
      // Whoever listened before (an event loop) hears of them too.
      if (got > 0 && forward_ >= 0 && ::write(forward_, signals, static_cast<std::size_t>(got)) < 0) {
      }
    }
  }

  std::atomic<bool>& stop_;
  int read_ = -1;
  int write_ = -1;
  int forward_ = -1;  // the descriptor set before, -1 for none
  py::object previous_;
  std::atomic<bool> finished_{false};
  std::thread watcher_;
};

// One call's options and its link to Python: the caller's progress and the
// interpreter's signals are looked at, with the GIL, whenever the library
// reports progress or hands over results; a Python error (KeyboardInterrupt
// among them) cancels the call and is raised again once it has returned.
class Call {
 public:
  Call(unsigned threads, std::uint64_t memory, py::object progress)
      : progress_(std::move(progress)), watch_(cancel_) {
    options_.threads = threads;
    options_.memory = memory;
    options_.cancel = &cancel_;
    options_.progress = [this](double done) { check(done); };
  }
  const sigma_census::Options& options() const { return options_; }

  // In the calling thread, GIL released: Python's signals and progress.
  void check(std::optional<double> done = std::nullopt) {
    if (cancel_.load()) return;
    const py::gil_scoped_acquire hold;
    try {
      if (PyErr_CheckSignals() != 0) throw py::error_already_set();
      if (done && !progress_.is_none()) progress_(*done);
    } catch (py::error_already_set& error) {
      pending_ = std::move(error);
      cancel_.store(true);
    }
  }

  // Runs `work` without the GIL; raises what Python or the library said.
  template <class Work>
  auto run(const Work& work) -> decltype(work()) {
    try {
      const py::gil_scoped_release release;
      return work();
    } catch (const sigma_census::Error& error) {
      if (pending_) throw std::move(*pending_);
      // A Ctrl-C seen by the watch: Python's handler raises KeyboardInterrupt now.
      if (PyErr_CheckSignals() != 0) throw py::error_already_set();
      switch (error.kind()) {
        case sigma_census::Error::Kind::Bounds:
        case sigma_census::Error::Kind::Argument:
          throw py::value_error(error.what());
        case sigma_census::Error::Kind::Memory:
          throw std::bad_alloc();
        default:
          throw std::runtime_error(error.what());
      }
    }
  }

 private:
  sigma_census::Options options_;
  std::atomic<bool> cancel_{false};
  py::object progress_;
  std::optional<py::error_already_set> pending_;
  SignalWatch watch_;
};

py::dict histogram(const py::handle& L1, const py::handle& L2, unsigned threads, std::uint64_t memory,
                   py::object progress) {
  const std::int64_t from = valueOf(L1, "L1");
  const std::int64_t to = valueOf(L2, "L2");
  Call call(threads, memory, std::move(progress));
  const sigma_census::Histogram result =
      call.run([&] { return sigma_census::histogram(from, to, call.options()); });
  py::dict dict;
  for (const auto& [n, values] : result) dict[py::int_(n)] = py::int_(values);
  return dict;
}

py::array_t<std::int64_t> counts(const py::handle& L1, const py::handle& L2, unsigned threads,
                                 std::uint64_t memory, py::object progress) {
  const std::int64_t from = valueOf(L1, "L1");
  const std::int64_t to = valueOf(L2, "L2");
  if (from > to) throw py::value_error("L1 = " + std::to_string(from) + " above L2 = " + std::to_string(to));
  const auto width = static_cast<std::uint64_t>(to - from) + 1;
  if (width > static_cast<std::uint64_t>(PTRDIFF_MAX) / sizeof(std::int64_t))
    throw py::value_error("[L1, L2] holds " + std::to_string(width) + " values: more than an array can");
  py::array_t<std::int64_t> out(static_cast<py::ssize_t>(width));
  std::int64_t* data = out.mutable_data();
  Call call(threads, memory, std::move(progress));
  call.run([&] {
    sigma_census::forEachCount(
        from, to,
        [&](std::int64_t first, std::span<const std::int64_t> block) {
          std::copy(block.begin(), block.end(), data + (first - from));
          call.check();
        },
        call.options());
  });
  return out;
}

std::int64_t count(const py::handle& S) {
  const std::int64_t value = valueOf(S, "S");
  Call call(0, 0, py::none());
  return call.run([&] { return sigma_census::count(value, call.options()); });
}

py::list preimages(const py::handle& S, std::int64_t limit) {
  const std::int64_t value = valueOf(S, "S");
  Call call(0, 0, py::none());
  // The walk's batches come to the calling thread: signals are looked at there.
  const std::int64_t n = call.run([&] { return sigma_census::count(value, call.options()); });
  if (n > limit)
    throw py::value_error(std::to_string(value) + " has " + std::to_string(n) +
                          " preimages, more than limit = " + std::to_string(limit));
  std::vector<std::int64_t> all;
  call.run([&] {
    all.reserve(static_cast<std::size_t>(n));
    sigma_census::forEachPreimage(
        value,
        [&](std::span<const std::int64_t> batch) {
          all.insert(all.end(), batch.begin(), batch.end());
          call.check();
        },
        call.options());
    std::sort(all.begin(), all.end());
  });
  py::list list(all.size());
  for (std::size_t k = 0; k < all.size(); ++k) list[k] = py::int_(all[k]);
  return list;
}

}  // namespace

PYBIND11_MODULE(sigma_census, module) {
  module.doc() =
      "How many positive integers m have a divisor sum sigma(m) equal to S, for every S of an\n"
      "interval [L1, L2] (1 <= L1 <= L2 <= 2**63 - 1), exactly; and every such m of one value.\n"
      "The GIL is released while computing; Ctrl-C raises KeyboardInterrupt.";
  module.attr("__version__") = sigma_census::version();
  const char* options =
      "\n\nthreads: threads to use (0: one per core); memory: an upper bound on the memory budget\n"
      "in bytes (0: as the machine allows); progress: a callable told the fraction done (0 to 1).";
  module.def("histogram", &histogram, py::arg("L1"), py::arg("L2"), py::kw_only(), py::arg("threads") = 0,
             py::arg("memory") = 0, py::arg("progress") = py::none(),
             (std::string("histogram(L1, L2) -> dict: count n -> how many values S of [L1, L2] have\n"
                          "exactly n preimages m, for the counts met.") +
              options)
                 .c_str());
  module.def("counts", &counts, py::arg("L1"), py::arg("L2"), py::kw_only(), py::arg("threads") = 0,
             py::arg("memory") = 0, py::arg("progress") = py::none(),
             (std::string("counts(L1, L2) -> numpy.ndarray of int64: the number of m with sigma(m) = S\n"
                          "for S = L1, ..., L2 (element k for L1 + k).") +
              options)
                 .c_str());
  module.def("count", &count, py::arg("S"), "count(S) -> int: how many m have sigma(m) = S.");
  module.def("preimages", &preimages, py::arg("S"), py::kw_only(), py::arg("limit") = 10000000,
             "preimages(S, limit=10**7) -> list: every m with sigma(m) = S, in increasing order.\n"
             "ValueError when there are more than limit.");
}
