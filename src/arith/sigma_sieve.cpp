#include "arith/sigma_sieve.hpp"

#include <algorithm>

#include "arith/wide.hpp"
#include "common/check.hpp"

namespace arith {

SigmaSieve::SigmaSieve(const std::vector<common::Int64>& Nprem)
    : Nprem_(Nprem), sigma_(kSegment), found_(kSegment) {}

SigmaSieve::SigmaSieve(const std::vector<common::Int64>& Nprem, std::uint64_t lo, std::uint64_t hi)
    : SigmaSieve(Nprem) {
  start(lo, hi);
}

void SigmaSieve::start(std::uint64_t lo, std::uint64_t hi) {
  segmentStart_ = lo;
  cursor_ = lo;
  hi_ = hi;
  strides_.clear();
  if (hi <= lo) return;
  const std::uint64_t top = hi - 1;
  // Every prime up to the square root of the last candidate must be in the table.
  SIGMA_ASSERT(Nprem_.size() > 1 &&
               static_cast<Uint128>(Nprem_.back()) * static_cast<Uint128>(Nprem_.back()) > top);
  for (std::size_t j = 2; j < Nprem_.size(); ++j) {
    const auto p = static_cast<std::uint64_t>(Nprem_[j]);
    if (p * p > top) break;
    std::uint64_t power = p;
    std::uint64_t sigma = 1 + p;
    for (;;) {
      const std::uint64_t quotient = (lo + power - 1) / power;
      strides_.push_back({power, sigma, static_cast<double>(power), quotient * power,
                          static_cast<std::uint32_t>(p), static_cast<std::uint32_t>(quotient % p)});
      if (power > top / p) break;
      power *= p;
      sigma = sigma * p + 1;
    }
  }
}

std::span<const std::uint64_t> SigmaSieve::next() {
  segmentStart_ = cursor_;
  if (cursor_ >= hi_) return {};
  const std::uint64_t lo = cursor_;
  const std::uint64_t end = std::min(hi_, lo + kSegment);
  const std::size_t size = end - lo;
  std::uint64_t* sigma = sigma_.data();
  double* found = found_.data();
  for (std::size_t i = 0; i < size; ++i) {
    const std::uint64_t m = lo + i;
    const int twos = __builtin_ctzll(m);
    sigma[i] = (std::uint64_t{2} << twos) - 1;
    found[i] = static_cast<double>(std::uint64_t{1} << twos);
  }
  for (Stride& s : strides_) {
    std::uint64_t i = s.next - lo;
    std::uint32_t phase = s.phase;
    const std::uint32_t p = s.prime;
    for (; i < size; i += s.power) {
      if (phase != 0) {
        sigma[i] *= s.sigma;
        found[i] *= s.powerAsDouble;
      }
      if (++phase == p) phase = 0;
    }
    s.next = lo + i;
    s.phase = phase;
  }
  // What the small primes leave is m / found: 1, or a prime q bringing q + 1.
  // Every number here is an integer below 2^52, held exactly in a double, so
  // the products and the quotient are exact; in doubles the loop runs on
  // vector registers.
  const auto base = static_cast<double>(static_cast<std::int64_t>(lo));
  const auto count = static_cast<std::int32_t>(size);  // a segment is far below 2^31
  for (std::int32_t i = 0; i < count; ++i) {
    const double rest = (base + static_cast<double>(i)) / found[i];
    found[i] = rest + static_cast<double>(rest > 1.0);  // q + 1, or 1 when nothing is left
  }
  for (std::size_t i = 0; i < size; ++i)
    sigma[i] *= static_cast<std::uint64_t>(static_cast<std::int64_t>(found[i]));
  cursor_ = end;
  return {sigma_.data(), size};
}

}  // namespace arith
