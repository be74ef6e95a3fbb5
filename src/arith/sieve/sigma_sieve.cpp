#include "arith/sieve/sigma_sieve.hpp"

#include <algorithm>

#include "arith/primes/wide.hpp"
#include "common/check.hpp"

namespace arith {

SigmaSieve::SigmaSieve(std::span<const common::Int64> primes)
    : primes_(primes), sigma_(kSegment), found_(kSegment) {}

SigmaSieve::SigmaSieve(std::span<const common::Int64> primes, std::uint64_t lo, std::uint64_t hi)
    : SigmaSieve(primes) {
  start(lo, hi);
}

void SigmaSieve::start(std::uint64_t lo, std::uint64_t hi, std::uint64_t residue, std::uint64_t step) {
  SIGMA_ASSERT((step == 1 && residue == 0) || (step == 6 && residue < 6));
  SIGMA_ASSERT(lo >= 1 && hi <= kCeiling);
  residue_ = residue;
  step_ = step;
  // The indices of the numbers of the class in [lo, hi).
  cursor_ = lo > residue ? (lo - residue + step - 1) / step : 0;
  if (residue + step * cursor_ == 0) ++cursor_;  // 0 is no candidate
  end_ = hi > residue ? (hi - residue + step - 1) / step : 0;
  strides_.clear();
  exact_.clear();
  if (end_ <= cursor_) return;
  const std::uint64_t top = residue + step * (end_ - 1);
  // Every prime up to the square root of the last number must be in the table.
  SIGMA_ASSERT(!primes_.empty() &&
               static_cast<Uint128>(primes_.back()) * static_cast<Uint128>(primes_.back()) > top);
  for (std::size_t j = 1; j < primes_.size(); ++j) {  // the odd primes
    const auto p = static_cast<std::uint64_t>(primes_[j]);
    if (p * p > top) break;
    addStrides(p, top);
  }
}

// The strides of p, p^2, ... up to top, from the index cursor_ on. The
// multiples q * j of q = p^k in the class are those with j = t (mod J): for
// step 1 every j; for step 6 and p >= 5, j = residue * q^-1 (mod 6), and
// q^-1 = q (mod 6); for p = 3, only when 3 divides the residue, j of the
// residue's parity. Between two of them m grows by q * J, the index by
// q * J / step, and m / q by J, which moves the phase (m / q) mod p.
void SigmaSieve::addStrides(std::uint64_t p, std::uint64_t top) {
  std::uint64_t J = 1;
  std::uint64_t t = 0;
  if (step_ == 6) {
    if (p == 3 && residue_ % 3 != 0) return;
    J = p == 3 ? 2 : 6;
  }
  std::uint64_t power = p;
  std::uint64_t sigma = 1 + p;
  const std::uint64_t lowest = residue_ + step_ * cursor_;
  for (;;) {
    if (step_ == 6) t = p == 3 ? residue_ % 2 : (residue_ * (power % 6)) % 6;
    const std::uint64_t jc = (lowest + power - 1) / power;
    const std::uint64_t j = jc + (t + J - jc % J) % J;
    SIGMA_ASSERT((power * j) % step_ == residue_ % step_);
    const Stride stride{sigma,
                        static_cast<double>(power),
                        (power * j - residue_) / step_,
                        power * J / step_,
                        static_cast<std::uint32_t>(p),
                        static_cast<std::uint32_t>(j % p),
                        static_cast<std::uint32_t>(J % p)};
    if (p <= kSplitUpTo) {
      split(stride);
    } else {
      strides_.push_back(stride);
    }
    if (power > top / p) return;
    power *= p;
    sigma = sigma * p + 1;
  }
}

// The hits of a small prime's stride, p - 1 in p of them, as p - 1 strides
// p times as long whose hits all count: the densest loops lose their phase.
void SigmaSieve::split(const Stride& stride) {
  std::uint32_t phase = stride.phase;
  for (std::uint64_t n = 0; n < stride.prime; ++n) {
    if (phase != 0) {
      exact_.push_back(
          {stride.sigma, stride.powerAsDouble, stride.next + n * stride.step, stride.step * stride.prime});
    }
    phase = (phase + stride.phaseStep) % stride.prime;
  }
}

std::span<const std::uint64_t> SigmaSieve::next() {
  if (cursor_ >= end_) return {};
  const std::uint64_t lo = cursor_;
  const std::size_t size = std::min(end_ - lo, kSegment);
  const std::uint64_t first = nextNumber();
  startSegment(first, size);
  applyStrides(lo, size);
  finishSegment(first, size);
  cursor_ = lo + size;
  return {sigma_.data(), size};
}

// Every number of the segment starts with its power of 2.
void SigmaSieve::startSegment(std::uint64_t first, std::size_t size) {
  std::uint64_t* sigma = sigma_.data();
  double* found = found_.data();
  for (std::size_t i = 0; i < size; ++i) {
    const std::uint64_t m = first + step_ * i;
    const int twos = __builtin_ctzll(m);
    sigma[i] = (std::uint64_t{2} << twos) - 1;
    found[i] = static_cast<double>(std::uint64_t{1} << twos);
  }
}

// The odd prime powers up to the square root, on the segment at index lo.
void SigmaSieve::applyStrides(std::uint64_t lo, std::size_t size) {
  std::uint64_t* sigma = sigma_.data();
  double* found = found_.data();
  for (ExactStride& s : exact_) {
    const std::uint64_t sigmaOfPower = s.sigma;
    const double powerAsDouble = s.powerAsDouble;
    const std::uint64_t step = s.step;
    std::uint64_t i = s.next - lo;
    for (; i < size; i += step) {
      sigma[i] *= sigmaOfPower;
      found[i] *= powerAsDouble;
    }
    s.next = lo + i;
  }
  for (Stride& s : strides_) {
    // Locals, so that the stores below cannot be taken to change them.
    const std::uint64_t sigmaOfPower = s.sigma;
    const double powerAsDouble = s.powerAsDouble;
    const std::uint64_t step = s.step;
    const std::uint32_t p = s.prime;
    const std::uint32_t phaseStep = s.phaseStep;
    std::uint32_t phase = s.phase;
    std::uint64_t i = s.next - lo;
    for (; i < size; i += step) {
      if (phase != 0) {
        sigma[i] *= sigmaOfPower;
        found[i] *= powerAsDouble;
      }
      phase += phaseStep;
      if (phase >= p) phase -= p;
    }
    s.next = lo + i;
    s.phase = phase;
  }
}

// What the small primes leave is m / found: 1, or a prime q bringing q + 1.
// Every number here is an integer below 2^52, held exactly in a double, so
// the products and the quotient are exact; in doubles the loop runs on
// vector registers.
void SigmaSieve::finishSegment(std::uint64_t first, std::size_t size) {
  std::uint64_t* sigma = sigma_.data();
  double* found = found_.data();
  const auto base = static_cast<double>(static_cast<std::int64_t>(first));
  const auto stride = static_cast<double>(step_);
  const auto count = static_cast<std::int32_t>(size);  // a segment is far below 2^31
  for (std::int32_t i = 0; i < count; ++i) {
    const double rest = (base + stride * static_cast<double>(i)) / found[i];
    found[i] = rest + static_cast<double>(rest > 1.0);  // q + 1, or 1 when nothing is left
  }
  for (std::size_t i = 0; i < size; ++i)
    sigma[i] *= static_cast<std::uint64_t>(static_cast<std::int64_t>(found[i]));
}

}  // namespace arith
