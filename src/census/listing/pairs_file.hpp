// The pairs file NN.txt: one record "count value " per value of the interval,
// written during the scan. The writer also keeps a checksum of every run of
// kChunk records, so that a reader can tell the file is still what was written.
#pragma once

#include <xxhash.h>

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "arith/counts/count_histogram.hpp"
#include "census/listing/decimal_counter.hpp"
#include "common/widths.hpp"

namespace census {

// One record's share of its chunk's checksum: the checksum is the sum of the
// shares, so records are mixed independently of one another (the values'
// order is checked on its own when the file is read back).
inline std::uint64_t recordShare(common::Int64 count, common::Int64 value) {
  std::uint64_t x =
      static_cast<std::uint64_t>(value) * 0x9e3779b97f4a7c15ULL ^ static_cast<std::uint64_t>(count);
  x ^= x >> 30;
  x *= 0xbf58476d1ce4e5b9ULL;
  x ^= x >> 27;
  x *= 0x94d049bb133111ebULL;
  return x ^ (x >> 31);
}

class PairsFile {
 public:
  static constexpr std::int64_t kChunk = 4096;  // records per checksum

  explicit PairsFile(std::string path);
  ~PairsFile();
  PairsFile(const PairsFile&) = delete;
  PairsFile& operator=(const PairsFile&) = delete;

  void open();  // creates the file, or empties it; forgets the previous records
  // Takes up the file an interrupted run left: its first `bytes` bytes must
  // hold the records of `records` values from `first` on, with xxHash `hash`;
  // anything after them is cut off. False (and reason()) when they do not.
  // The counts read are added to `tally`.
  bool resume(common::Int64 first, std::int64_t records, std::uint64_t bytes, std::uint64_t hash,
              arith::CountHistogram* tally);
  void record(common::Int64 ns, common::Int64 N);
  // Hands every record so far to the kernel, then (sync) to the disk.
  bool flush();
  bool sync();
  void close();  // writes out what is buffered and closes; idempotent

  std::uint64_t bytes() const { return bytes_; }  // bytes handed to the file so far
  std::uint64_t hash() const;                     // their xxHash (XXH64, seed 0)

  const std::string& path() const { return path_; }
  bool failed() const { return !reason_.empty(); }
  const std::string& reason() const { return reason_; }  // the first failure, if any
  const std::vector<std::uint64_t>& chunkChecksums() const { return checksums_; }

 private:
  void fail(const char* what);
  void spill();
  void forget();
  void countRecord(common::Int64 ns, common::Int64 N);
  bool readBack(common::Int64 first, std::uint64_t bytes, arith::CountHistogram& tally);

  std::string path_;
  static constexpr std::size_t kCapacity = std::size_t{1} << 20;
  std::FILE* file_ = nullptr;
  std::unique_ptr<char[]> buffer_;  // records not yet written
  std::size_t used_ = 0;
  std::string reason_;
  std::int64_t records_ = 0;
  DecimalCounter value_;  // the text of the last value written
  std::vector<std::uint64_t> checksums_;
  std::uint64_t bytes_ = 0;
  std::unique_ptr<XXH64_state_t, XXH_errorcode (*)(XXH64_state_t*)> hash_;
};

}  // namespace census
