#include "api/call_guard.hpp"

#include <new>
#include <system_error>

#include "arith/block_runner.hpp"
#include "arith/plan/memory_budget.hpp"

namespace api {

using sigma_census::Error;

namespace {

constexpr unsigned kMostThreads = 4096;

}  // namespace

CallGuard::CallGuard(const sigma_census::Options& options) : options_(options) {
  if (options.threads > kMostThreads)
    throw Error(Error::Kind::Argument, "threads: " + std::to_string(options.threads) + ", at most 4096");
  if (options.memory != 0 && options.memory < arith::kLeastBudget)
    throw Error(Error::Kind::Argument, "memory: " + std::to_string(options.memory) +
                                           " bytes, below the least budget that works (16 MiB)");
}

void CallGuard::checkInterval(std::int64_t L1, std::int64_t L2) {
  if (L1 < 1) throw Error(Error::Kind::Bounds, "L1 = " + std::to_string(L1) + ": below 1");
  if (L2 < 1) throw Error(Error::Kind::Bounds, "L2 = " + std::to_string(L2) + ": below 1");
  if (L1 > L2)
    throw Error(Error::Kind::Bounds, "L1 = " + std::to_string(L1) + " above L2 = " + std::to_string(L2));
}

void CallGuard::checkValue(std::int64_t S) {
  if (S < 1) throw Error(Error::Kind::Bounds, "S = " + std::to_string(S) + ": below 1");
}

arith::DivisorArithmetic& CallGuard::arithmetic() {
  if (!arithmetic_) {
    arithmetic_.emplace(options_.threads, options_.memory);
    arithmetic_->setStopFlag(options_.cancel);
  }
  return *arithmetic_;
}

void CallGuard::poll() const { arith::throwIfStopped(options_.cancel); }

arith::ProgressSink CallGuard::progress() {
  return [this](double done) {
    poll();
    if (options_.progress) options_.progress(done);
  };
}

void CallGuard::rethrowAsError() {
  try {
    throw;
  } catch (const Error&) {
    throw;
  } catch (const arith::CalculationStopped&) {
    throw Error(Error::Kind::Cancelled, "cancelled");
  } catch (const arith::MemoryShortage& shortage) {
    throw Error(Error::Kind::Memory, "out of memory: the control group leaves " +
                                         std::to_string(shortage.room() >> 20) + " MiB, at least " +
                                         std::to_string((shortage.least() + (1 << 20) - 1) >> 20) +
                                         " MiB are needed");
  } catch (const std::bad_alloc&) {
    throw Error(Error::Kind::Memory, "out of memory");
  } catch (const std::system_error& error) {
    throw Error(Error::Kind::Failed, std::string("a thread could not be started: ") + error.what());
  } catch (const std::exception& error) {
    throw Error(Error::Kind::Failed, error.what());
  } catch (...) {
    throw Error(Error::Kind::Failed, "an unknown failure");
  }
}

}  // namespace api
