// Fuzzes the checkpoint reader with arbitrary bytes. Whatever they hold, the
// reader refuses them with a reason or accepts a state that a resume can
// trust: its ranges lie in the interval, increasing and apart, its
// histogram adds up to exactly their values and counts no more preimages
// than there are numbers below L2 to be them, its completion mark fits, and
// written again it gives back the very bytes read (so nothing was taken on
// faith or half-read). The sanitizers watch every read.
#include <xxhash.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "census/checkpoint/checkpoint.hpp"

namespace {

void require(bool condition) {
  if (!condition) std::abort();
}

void checkAccepted(const census::CheckpointState& state, std::string_view bytes) {
  require(1 <= state.L1 && state.L1 <= state.L2);
  common::Int64 values = 0;
  common::Int64 nextFree = state.L1;
  for (const census::ValueRange& range : state.done) {
    require(nextFree <= range.first && range.first <= range.last && range.last <= state.L2);
    values += range.last - range.first + 1;
    nextFree = range.last + 1;
  }
  require(state.histogram.total() == values);
  // Plausible: no more preimages than numbers m with sigma(m) <= L2 can be
  // (m = 1, odd m < L2, even m <= 2 L2 / 3), summed here in 128 bits.
  __extension__ using Wide = unsigned __int128;
  const auto L2 = static_cast<Wide>(state.L2);
  Wide preimages = 0;
  state.histogram.forEach([&](common::Count n, common::Int64 k) {
    if (preimages <= L2) preimages += static_cast<Wide>(n) * static_cast<Wide>(k);
  });
  require(preimages <= 2 + (L2 + 1) / 2 + 2 * L2 / 3 / 2);
  require(!state.list || state.done.empty() || (state.done.size() == 1 && state.done[0].first == state.L1));
  require(census::serializeCheckpoint(state) == bytes);
}

void check(std::string_view bytes) {
  const census::CheckpointRead read = census::parseCheckpoint(bytes);
  if (read.state) {
    require(read.problem.empty());
    checkAccepted(*read.state, bytes);
  } else {
    require(!read.problem.empty());
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  check(bytes);
  // The same bytes with a checksum that fits them: the records' own checks
  // must hold without the hash's help.
  char hash[32];
  std::snprintf(hash, sizeof hash, "xxh64 %016llx\n", static_cast<unsigned long long>(XXH64(data, size, 0)));
  check(std::string(bytes) + hash);
  return 0;
}
