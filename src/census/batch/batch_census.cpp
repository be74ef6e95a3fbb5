#include "census/batch/batch_census.hpp"

#include <csignal>
#include <cstdio>
#include <memory>
#include <new>
#include <span>

#include "arith/counts/block_sample.hpp"
#include "census/batch/batch_output.hpp"
#include "census/batch/stop_signals.hpp"
#include "census/listing/count_recorder.hpp"
#include "census/listing/listing.hpp"
#include "census/report/failure_text.hpp"
#include "census/report/summary_report.hpp"
#include "census/report/texts.hpp"

namespace census {

using common::Int64;

namespace {
constexpr auto kSaveEvery = std::chrono::seconds(1);
}  // namespace

BatchCensus::BatchCensus(const CommandLine& line, arith::DivisorArithmetic& arithmetic, std::ostream& out,
                         std::ostream& err, ProgressLine::Style progress, std::string pairsPath)
    : line_(line),
      arithmetic_(arithmetic),
      out_(out),
      err_(err),
      progress_(err, progress),
      Flux(std::move(pairsPath)) {
  if (!line.checkpoint.empty()) checkpoint_.emplace(line.checkpoint);
  state_.L1 = line.L1;
  state_.L2 = line.L2;
  state_.list = line.list;
  state_.checked = line.doubleCheck;
  arithmetic_.setDoubleCheck(line.doubleCheck);
}

int BatchCensus::run() {
  const auto started = Clock::now();
  if (checkpoint_) {
    if (!takeCheckpoint()) return kCheckpointError;
    if (!proveCheckpointWritable()) return kCheckpointUnwritable;
  }
  if (progress_.enabled()) sayResumed();
  try {
    const StopSignals stop([this](int signal) { return saveOnSignal(signal); });
    if (line_.list) {
      if (!resumePairs()) return kCheckpointError;
      countListing();
    } else {
      countSummary();
    }
    {
      const std::scoped_lock hold(lock_);
      saveLocked(true);
    }
    writeOutput(std::chrono::duration<double>(Clock::now() - started).count());
  } catch (const arith::DoubleCheckFailure& failure) {
    progress_.finish();
    err_ << texts::kProgramPrefix << failure.what() << "; the checkpoint keeps only confirmed blocks\n";
    err_.flush();
    return kDoubleCheckFailed;
  } catch (const std::exception&) {
    return failed(failureText(std::current_exception()));
  }
  if (!out_) {
    err_ << texts::kOutputLost;
    err_.flush();
    return 3;
  }
  return staleCheckpoint() ? kCheckpointUnwritable : 0;
}

// Takes the state an earlier run left, if any; false when the file is refused.
bool BatchCensus::takeCheckpoint() {
  const CheckpointRead read = checkpoint_->load();
  std::string problem = read.problem;
  if (problem.empty() && read.state) {
    const CheckpointState& kept = *read.state;
    if (kept.L1 != line_.L1 || kept.L2 != line_.L2)
      problem = "written for [" + std::to_string(kept.L1) + ", " + std::to_string(kept.L2) + "], not [" +
                std::to_string(line_.L1) + ", " + std::to_string(line_.L2) + "]";
    else if (kept.list != line_.list)
      problem = kept.list ? "written with --list" : "written without --list";
  }
  if (!problem.empty()) return refuseCheckpoint(problem);
  if (read.state) {
    state_ = *read.state;
    // Double-checked means every finished range was: a run without the
    // check takes the mark off, and one with it cannot put it back on ranges
    // finished unchecked.
    state_.checked = line_.doubleCheck && (state_.done.empty() || state_.checked);
  }
  return true;
}

bool BatchCensus::refuseCheckpoint(const std::string& problem) {
  err_ << texts::kProgramPrefix << "checkpoint " << checkpoint_->path() << ": " << problem
       << "; nothing computed, the file is left as it is\n";
  err_.flush();
  return false;
}

// With progress shown: where the census starts, so that a batch job's log
// tells a fresh start from a resumed one.
void BatchCensus::sayResumed() {
  if (!checkpoint_) return;
  const double whole = static_cast<double>(line_.L2 - line_.L1) + 1;
  double counted = 0;
  for (const ValueRange& range : state_.done) counted += static_cast<double>(range.last - range.first) + 1;
  char share[32];
  std::snprintf(share, sizeof share, "%.1f %%", 100 * counted / whole);
  err_ << texts::kProgramPrefix << "checkpoint " << checkpoint_->path();
  if (state_.done.empty()) {
    err_ << ": nothing counted yet, the census starts\n";
  } else {
    err_ << ": resumed, " << share << " of [" << line_.L1 << ", " << line_.L2 << "] already counted in "
         << state_.done.size() << (state_.done.size() == 1 ? " range" : " ranges")
         << (state_.complete() ? ", the census is complete" : "") << "\n";
  }
  err_.flush();
}

// A checkpoint that cannot be written would let a kill lose the whole run:
// it is written once before anything is computed (unless nothing is left to compute).
bool BatchCensus::proveCheckpointWritable() {
  if (state_.complete()) return true;
  std::string problem;
  if (checkpoint_->save(state_, problem)) return true;
  err_ << texts::kProgramPrefix << "checkpoint " << checkpoint_->path() << ": " << problem
       << "; nothing computed\n";
  err_.flush();
  return false;
}

// After the output: whether the checkpoint missed the last save, and so
// lags behind the census (said on standard error).
bool BatchCensus::staleCheckpoint() {
  const std::scoped_lock hold(lock_);
  if (!checkpoint_ || !failedSave_) return false;
  err_ << texts::kProgramPrefix << "checkpoint " << checkpoint_->path()
       << ": stale, its last save failed; the output above is complete\n";
  err_.flush();
  return true;
}

// Takes up NN.txt where the checkpoint says it is complete, or starts it
// over; false when NN.txt is as recorded but its counts are not those of the
// checkpoint's histogram (then one of the two was altered, and neither is trusted).
bool BatchCensus::resumePairs() {
  committedTo_ = line_.L1 - 1;
  if (!state_.done.empty()) {
    const Int64 last = state_.done[0].last;
    arith::CountHistogram tally;
    if (Flux.resume(line_.L1, last - line_.L1 + 1, state_.pairsBytes, state_.pairsHash, &tally)) {
      if (!(tally == state_.histogram))
        return refuseCheckpoint("a histogram that is not the tally of the counts in " + Flux.path());
      committedTo_ = last;
      pendingTo_ = last;
      return true;
    }
    warn(Flux.path() + " : " + Flux.reason() + " ; the listing starts over");
    const std::scoped_lock hold(lock_);
    state_.done.clear();
    state_.histogram.clear();
    state_.checked = line_.doubleCheck;
  }
  pendingTo_ = committedTo_;
  Flux.open();
  if (Flux.failed()) warn(Flux.path() + " : " + Flux.reason());
  return true;
}

// Each finished block's histogram joins the checkpoint's, in whatever order
// the blocks finish.
void BatchCensus::countSummary() {
  const std::vector<ValueRange> gaps = state_.missing();
  double planned = 0;
  double values = 0;
  for (const ValueRange& gap : gaps) {
    if (progress_.enabled()) planned += arithmetic_.plannedSeconds(gap.first, gap.last);
    values += static_cast<double>(gap.last - gap.first) + 1;
  }
  progress_.start(planned);
  double before = 0;
  for (const ValueRange& gap : gaps) {
    const double width = static_cast<double>(gap.last - gap.first) + 1;
    arith::CountHistogram whole;
    arithmetic_.tallyDivisorSums(
        gap.first, gap.last, whole, [&](double done) { progress_.update((before + done * width) / values); },
        [this](Int64 first, Int64 last, const arith::CountHistogram* own) {
          const std::scoped_lock hold(lock_);
          state_.finish(first, last);
          state_.histogram.add(*own);
          unsaved_ = true;
          saveLocked(false);
        });
    before += width;
  }
  progress_.finish();
}

// The counts in order into NN.txt; the checkpoint moves on once a second,
// when what NN.txt holds has reached the disk.
void BatchCensus::countListing() {
  const Int64 from = committedTo_ + 1;
  progress_.start(from <= line_.L2 && progress_.enabled() ? arithmetic_.plannedSeconds(from, line_.L2) : 0);
  if (from <= line_.L2) {
    arithmetic_.countDivisorSums(
        from, line_.L2,
        [this](Int64 first, std::span<const common::Count> counts) {
          recordCounts(Flux, pendingNN_, first, counts);
        },
        [this](double done) { progress_.update(done); },
        [this](Int64, Int64 last, const arith::CountHistogram*) {
          pendingTo_ = last;
          if (checkpoint_ && Clock::now() - lastSave_ >= kSaveEvery) commitListing();
        });
  }
  commitListing();
  Flux.close();
  if (Flux.failed()) warn(Flux.path() + " : " + Flux.reason());
  progress_.finish();
}

void BatchCensus::commitListing() {
  if (checkpoint_ && !Flux.sync()) warn(Flux.path() + " : " + Flux.reason());
  const std::scoped_lock hold(lock_);
  if (pendingTo_ > committedTo_) {
    state_.finish(committedTo_ + 1, pendingTo_);
    committedTo_ = pendingTo_;
  }
  state_.histogram.add(pendingNN_);
  pendingNN_.clear();
  state_.pairsBytes = Flux.bytes();
  state_.pairsHash = Flux.hash();
  unsaved_ = true;
  saveLocked(true);
}

// With lock_ held: writes the checkpoint when it has news, at most once a
// second unless forced.
void BatchCensus::saveLocked(bool force) {
  if (!checkpoint_ || !unsaved_) return;
  const auto now = Clock::now();
  if (!force && now - lastSave_ < kSaveEvery) return;
  lastSave_ = now;
  unsaved_ = false;
  std::string problem;
  failedSave_ = !checkpoint_->save(state_, problem);
  if (failedSave_ && !warnedCheckpoint_) {
    warnedCheckpoint_ = true;
    err_ << texts::kProgramPrefix << "checkpoint " << checkpoint_->path() << ": " << problem
         << "; the census goes on\n";
    err_.flush();
  }
}

// On SIGINT or SIGTERM, from the stop thread: what is finished reaches the
// file, and the last line says whether it did.
std::string BatchCensus::saveOnSignal(int signal) {
  const std::scoped_lock hold(lock_);
  saveLocked(true);
  const std::string stopped =
      std::string(texts::kProgramPrefix) + "stopped by " + (signal == SIGINT ? "SIGINT" : "SIGTERM");
  if (!checkpoint_) return stopped + "\n";
  return stopped + (failedSave_ ? "; checkpoint " + checkpoint_->path() + " is stale, its last save failed\n"
                                : "; checkpoint " + checkpoint_->path() + " holds every finished range\n");
}

void BatchCensus::writeOutput(double seconds) {
  const arith::CountHistogram& NN = state_.histogram;
  std::unique_ptr<Listing> listing;
  if (line_.list) {
    auto recount = [this](Int64 from, const Listing::RecordSink& sink) {
      arithmetic_.countDivisorSums(from, line_.L2, sink);
    };
    listing = std::make_unique<Listing>(
        Flux, line_.L1, line_.L2, NN, recount,
        [this](const std::string& reason) { warn(Flux.path() + " : " + reason); },
        listingBudgetFor(arithmetic_.memoryBudget()));
  }
  switch (line_.format) {
    case Format::Text:
      writeReport(out_, line_.L1, line_.L2, NN, listing.get());
      break;
    case Format::Tsv:
      writeTsv(out_, NN, listing.get());
      break;
    case Format::Json:
      writeJson(out_, line_.L1, line_.L2, NN, listing.get(), seconds, state_.checked);
      break;
  }
  out_.flush();
}

void BatchCensus::warn(const std::string& what) {
  if (warnedPairs_) return;
  warnedPairs_ = true;
  err_ << texts::kPairsWarning << what << '\n';
  err_.flush();
}

int BatchCensus::failed(const std::string& what) {
  progress_.finish();
  out_.flush();
  err_ << texts::kCalculationFailed << what << '\n';
  err_.flush();
  return 4;
}

}  // namespace census
