#include "reference/divisor_engine.hpp"

namespace reference {

common::Int32 Suiv(PrimeTable& table) {
  // Odd candidates after the last prime, each tried by the primes up to its
  // square root; the last prime's square exceeds every candidate, so the
  // table always holds enough divisors.
  for (common::Int64 i = 1;; ++i) {
    const common::Int64 c = table.Nprem[static_cast<std::size_t>(table.np)] + 2 * i;
    bool composite = false;
    for (std::size_t j = 1;; ++j) {
      const common::Int64 p = table.Nprem[j];
      if (static_cast<Uint128>(p) * static_cast<Uint128>(p) > static_cast<Uint128>(c)) break;
      if (c % p == 0) {
        composite = true;
        break;
      }
    }
    if (!composite) {
      table.Nprem.push_back(c);
      ++table.np;
      return 1;
    }
  }
}

using common::Int32;
using common::Int64;

DivisorEngine::DivisorEngine(PrimeTable& table) : Nfact{0}, Nexpo{0}, table_(table) {}

Int32 DivisorEngine::decomp() {
  nf = 0;
  if (S == 1) return 1;
  for (std::size_t k = 1;; ++k) {
    if (k > 2 && static_cast<Int64>(k) > table_.np) Suiv(table_);
    const Int64 Npk = table_.Nprem[k];
    // S has no prime factor below Npk: when Npk exceeds its square root, S is prime.
    // Compared exactly, so that the square of a prime is divided, not taken as prime.
    if (static_cast<Int64>(isqrt(static_cast<std::uint64_t>(S))) < Npk) {
      ++nf;
      Nexpo.push_back(1);
      Nfact.push_back(S);
      S = 1;
      break;
    }
    Int32 expo = 0;
    while (S % Npk == 0) {
      S /= Npk;
      if (++expo == 1) {
        ++nf;
        Nexpo.push_back(0);
        Nfact.push_back(Npk);
      }
      Nexpo.back() = expo;
    }
    if (S == 1) break;
  }
  return 1;
}

void DivisorEngine::calcul() {
  const Int64 nS = S;
  decomp();
  S = nS;
  // sigma(p^e) = 1 + p + ... + p^e, summed exactly; the product of all of them
  // stays below 2^128 for every 64-bit S.
  SN = 1;
  for (Int32 j = 1; j <= nf; ++j) {
    const auto p = static_cast<Uint128>(Nfact[static_cast<std::size_t>(j)]);
    Uint128 term = 1;
    Uint128 power = 1;
    for (Int64 e = 0; e < Nexpo[static_cast<std::size_t>(j)]; ++e) {
      power *= p;
      term += power;
    }
    SN *= term;
  }
  if (N >= 0 && SN == static_cast<Uint128>(N)) ++ns;
  Nfact.resize(1);
  Nexpo.resize(1);
}

Int64 DivisorEngine::countByTrialDivision(Int64 value) {
  N = value;
  ns = 0;
  for (Int64 m = 1; m <= value + 1; ++m) {
    S = m;
    calcul();
  }
  return ns;
}

void DivisorEngine::tallyInterval(Int64 L1, Int64 L2, std::vector<common::Count>& counts) {
  counts.assign(static_cast<std::size_t>(L2 - L1 + 1), 0);
  // sigma(m) > m for m > 1, so no candidate above L2 can reach the interval.
  for (Int64 m = 1; m <= L2; ++m) {
    S = m;
    N = -1;
    calcul();
    if (SN >= static_cast<Uint128>(L1) && SN <= static_cast<Uint128>(L2)) {
      ++counts[static_cast<std::size_t>(static_cast<Int64>(SN) - L1)];
    }
  }
}

}  // namespace reference
