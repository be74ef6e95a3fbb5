#include "arith/inversion/preimage_walk.hpp"

#include <algorithm>

#include "arith/primes/wide.hpp"
#include "common/check.hpp"

namespace arith {

namespace {
constexpr std::size_t kUnset = SIZE_MAX;
}  // namespace

PreimageWalk::PreimageWalk(const Factorizer& factorizer, SigmaInverse& inverse)
    : factorizer_(factorizer), inverse_(inverse) {}

// Numbers the distinct primes among the factors from the smallest, works out
// each p^k from sigma(p^k) = (p^(k+1) - 1) / (p - 1), and files the factors
// by the divisor their sigma is.
void PreimageWalk::numberGroups() {
  const auto& factors = inverse_.factors();
  const auto& divisors = inverse_.divisors();
  groups_.resize(factors.size());
  powers_.resize(factors.size());
  divisorStart_.assign(divisors.size() + 1, 0);
  std::uint32_t group = 0;
  for (std::size_t f = 0; f < factors.size(); ++f) {
    if (f > 0 && factors[f].prime != factors[f - 1].prime) ++group;
    groups_[f] = group;
    const std::uint64_t p = factors[f].prime;
    const Uint128 next = static_cast<Uint128>(divisors[factors[f].divisor]) * (p - 1) + 1;  // p^(k+1)
    powers_[f] = static_cast<std::uint64_t>(next / p);
    ++divisorStart_[factors[f].divisor + 1];
  }
  for (std::size_t d = 0; d < divisors.size(); ++d) divisorStart_[d + 1] += divisorStart_[d];
  byDivisor_.resize(factors.size());
  std::vector<std::size_t> filled(divisorStart_.begin(), divisorStart_.end() - 1);
  for (std::size_t f = 0; f < factors.size(); ++f) byDivisor_[filled[factors[f].divisor]++] = f;
}

// level_[x]: the fewest groups, counted from the smallest prime, whose
// factors make the divisor at x (with distinct primes); kNever where none do.
// The count's knapsack with booleans: a group adds d * y for every y made by
// the groups before it.
void PreimageWalk::findLevels() {
  const auto& factors = inverse_.factors();
  level_.assign(inverse_.divisors().size(), kNever);
  level_[0] = 0;  // the divisor 1: no factor at all
  for (std::size_t f = 0; f < factors.size(); ++f) {
    const std::uint32_t g = groups_[f];
    const std::size_t d = factors[f].divisor;
    inverse_.forEachWithin(inverse_.cofactorDigits(d), [&](std::size_t y) {
      if (level_[y] <= g && level_[d + y] == kNever) level_[d + y] = g + 1;
    });
  }
}

// The ways to take one prime out of the divisor at q such that the rest can
// still be made from smaller primes, by decreasing group; made once per q.
std::span<const PreimageWalk::Choice> PreimageWalk::choicesOf(std::size_t q) {
  if (choiceStart_[q] == kUnset) {
    const std::size_t start = pool_.size();
    inverse_.forEachWithin(inverse_.digitsOf(q), [&](std::size_t d) {
      for (std::size_t k = divisorStart_[d]; k < divisorStart_[d + 1]; ++k) {
        const std::size_t f = byDivisor_[k];
        if (level_[q - d] <= groups_[f]) pool_.push_back({powers_[f], groups_[f], q - d});
      }
    });
    std::sort(pool_.begin() + static_cast<std::ptrdiff_t>(start), pool_.end(),
              [](const Choice& a, const Choice& b) { return a.group > b.group; });
    choiceStart_[q] = start;
    choiceEnd_[q] = pool_.size();
  }
  return {pool_.data() + choiceStart_[q], choiceEnd_[q] - choiceStart_[q]};
}

// Opens the choices of q below group `bound`, with m taken so far; false when there are none.
bool PreimageWalk::push(std::size_t q, std::uint32_t bound, std::uint64_t m) {
  const std::span<const Choice> choices = choicesOf(q);
  const auto first =
      std::partition_point(choices.begin(), choices.end(), [&](const Choice& c) { return c.group >= bound; });
  if (first == choices.end()) return false;
  const auto base = static_cast<std::size_t>(choices.data() - pool_.data());
  stack_.push_back({base + static_cast<std::size_t>(first - choices.begin()), base + choices.size(), m});
  return true;
}

bool PreimageWalk::emit(std::uint64_t m, const PreimageSink& sink) {
  batch_.push_back(m);
  if (batch_.size() < kBatch) return true;
  handed_ += static_cast<common::Count>(batch_.size());
  const bool more = sink(batch_);
  batch_.clear();
  return more;
}

common::Count PreimageWalk::walk(std::uint64_t N, const PreimageSink& sink) {
  SIGMA_ASSERT(N >= 1 && N <= static_cast<std::uint64_t>(common::kLargestBound));
  handed_ = 0;
  batch_.clear();
  if (N == 1) {
    batch_.push_back(1);
  } else {
    const std::vector<PrimePower> primes = factorizer_.factorize(N);
    inverse_.prepare(N, primes);
    numberGroups();
    findLevels();
    const std::size_t top = inverse_.divisors().size() - 1;
    choiceStart_.assign(top + 1, kUnset);
    choiceEnd_.assign(top + 1, kUnset);
    pool_.clear();
    stack_.clear();
    const auto groups = static_cast<std::uint32_t>(groups_.empty() ? 0 : groups_.back() + 1);
    if (level_[top] != kNever) push(top, groups, 1);
    // Depth first; every choice on the stack leads to at least one preimage.
    while (!stack_.empty()) {
      Frame& frame = stack_.back();
      if (frame.at == frame.end) {
        stack_.pop_back();
        continue;
      }
      const Choice choice = pool_[frame.at++];
      const std::uint64_t m = frame.m * choice.power;  // divides a preimage, so below N
      if (choice.rest == 0) {
        if (!emit(m, sink)) return handed_;
      } else {
        [[maybe_unused]] const bool opened = push(choice.rest, choice.group, m);
        SIGMA_ASSERT(opened);
      }
    }
  }
  if (!batch_.empty()) {
    handed_ += static_cast<common::Count>(batch_.size());
    sink(batch_);
    batch_.clear();
  }
  return handed_;
}

}  // namespace arith
