#include "arith/inversion/rho_lanes.hpp"

#include <array>
#include <cstddef>
#include <numeric>
#include <utility>

#include "arith/primes/montgomery.hpp"
#include "common/check.hpp"

namespace arith {

namespace {

constexpr std::size_t kLanes = 4;
constexpr std::uint64_t kBatch = 256;  // steps between two gcds

// One number's walk y -> y^2 + c mod n, by rounds as in Brent's variant
// (R. P. Brent, "An improved Monte Carlo factorization algorithm", BIT 20,
// 1980): in a round of length r the tortoise x stays where the round began,
// the hare y takes r steps unwatched, then r steps in which q gathers the
// product of the differences |x - y|; then x = y and r doubles. Rounds start
// at r = kBatch, so that every batch is all unwatched or all watched: the
// factors here are above 2^20, and so are their cycles, nearly always.
struct Walk {
  std::size_t job = 0;
  std::uint64_t c = 0;  // the increment, in Montgomery form
  std::uint64_t x = 0;
  std::uint64_t y = 0;
  std::uint64_t ys = 0;  // y at the start of the batch, to retrace it
  std::uint64_t q = 0;
  std::uint64_t round = kBatch;
  std::uint64_t at = 0;  // steps taken in the round
  bool watched() const { return at >= round; }
};

std::uint64_t distance(std::uint64_t a, std::uint64_t b) { return a > b ? a - b : b - a; }

class Lanes {
 public:
  Lanes(std::span<const std::uint64_t> composites, std::span<std::uint64_t> divisors)
      : composites_(composites), divisors_(divisors) {}

  void run() {
    // One instance of the batch per set of watched lanes.
    using Batch = void (*)(Lanes&);
    static constexpr auto kBatches = []<unsigned... m>(std::integer_sequence<unsigned, m...>) {
      return std::array<Batch, sizeof...(m)>{[](Lanes& lanes) { lanes.batch<m>(); }...};
    }
    (std::make_integer_sequence<unsigned, 1u << kLanes>{});
    for (std::size_t l = 0; l < kLanes; ++l) take(l);
    while (active_ > 0) {
      unsigned mask = 0;
      for (std::size_t l = 0; l < kLanes; ++l) mask |= (walk_[l].watched() ? 1u : 0u) << l;
      kBatches[mask](*this);
      for (std::size_t l = 0; l < kLanes; ++l) {
        if (busy_[l]) settle(l);
      }
    }
  }

 private:
  // Gives lane l the next number; an idle lane, when none is left, runs on a
  // harmless modulus and its results are never read.
  void take(std::size_t l) {
    busy_[l] = next_ < composites_.size();
    if (!busy_[l]) {
      mont_[l] = Montgomery(3);
      walk_[l] = Walk{};
      return;
    }
    SIGMA_ASSERT(composites_[next_] % 2 == 1 && composites_[next_] < (std::uint64_t{1} << 63));
    ++active_;
    start(l, next_++, 1);
  }

  void start(std::size_t l, std::size_t job, std::uint64_t c) {
    mont_[l] = Montgomery(composites_[job]);
    const Montgomery& mont = mont_[l];
    const std::uint64_t y = mont.toForm(2);
    walk_[l] = Walk{job, mont.toForm(c), y, y, y, mont.one(), kBatch, 0};
  }

  // kBatch steps of every lane, interleaved; the lanes of kWatched gather
  // differences. One instance per set of watched lanes, so the loop carries
  // no test.
  template <unsigned kWatched>
  void batch() {
    std::array<std::uint64_t, kLanes> y{};
    std::array<std::uint64_t, kLanes> q{};
    for (std::size_t l = 0; l < kLanes; ++l) {
      y[l] = walk_[l].y;
      q[l] = walk_[l].q;
    }
    for (std::uint64_t i = 0; i < kBatch; ++i) {
      [&]<std::size_t... l>(std::index_sequence<l...>) {
        ((y[l] = mont_[l].add(mont_[l].mul(y[l], y[l]), walk_[l].c)), ...);
        ((q[l] = (kWatched >> l & 1) != 0 ? mont_[l].mul(q[l], distance(walk_[l].x, y[l])) : q[l]), ...);
      }
      (std::make_index_sequence<kLanes>{});
    }
    for (std::size_t l = 0; l < kLanes; ++l) {
      walk_[l].y = y[l];
      walk_[l].q = q[l];
    }
  }
  // After a batch: a factor, on to the next batch, or a new start.
  void settle(std::size_t l) {
    Walk& w = walk_[l];
    const std::uint64_t n = mont_[l].modulus();
    std::uint64_t g = 1;
    if (w.watched()) {
      g = std::gcd(w.q, n);
      if (g == n) g = retrace(l);
    }
    if (g == 1) {
      w.at += kBatch;
      if (w.at == 2 * w.round) {
        w.x = w.y;
        w.round *= 2;
        w.at = 0;
      }
      w.ys = w.y;
    } else if (g != n) {
      divisors_[w.job] = g;
      --active_;
      take(l);
    } else {
      start(l, w.job, mont_[l].fromForm(w.c) + 1);  // a cycle with no factor: another polynomial
    }
  }

  // The batch overshot (every factor came in at once): its steps again, one
  // by one, from ys; n when no single step splits n.
  std::uint64_t retrace(std::size_t l) const {
    const Walk& w = walk_[l];
    const Montgomery& mont = mont_[l];
    const std::uint64_t n = mont.modulus();
    std::uint64_t y = w.ys;
    for (std::uint64_t i = 0; i < kBatch; ++i) {
      y = mont.add(mont.mul(y, y), w.c);
      const std::uint64_t g = std::gcd(distance(w.x, y), n);
      if (g != 1) return g;
    }
    return n;
  }

  std::span<const std::uint64_t> composites_;
  std::span<std::uint64_t> divisors_;
  std::array<Montgomery, kLanes> mont_{Montgomery(3), Montgomery(3), Montgomery(3), Montgomery(3)};
  std::array<Walk, kLanes> walk_{};
  std::array<bool, kLanes> busy_{};
  std::size_t next_ = 0;
  std::size_t active_ = 0;
};

}  // namespace

void splitComposites(std::span<const std::uint64_t> composites, std::span<std::uint64_t> divisors) {
  SIGMA_ASSERT(divisors.size() == composites.size());
  Lanes(composites, divisors).run();
}

}  // namespace arith
