#!/usr/bin/env bash
# Installs what building and testing need, where a fresh Debian machine lacks it.
set -euo pipefail
need=()
command -v cmake > /dev/null || need+=(cmake)
command -v g++ > /dev/null || need+=(g++)
command -v make > /dev/null || need+=(make)
[ -f /usr/include/gtest/gtest.h ] || need+=(libgtest-dev)
[ -f /usr/include/benchmark/benchmark.h ] || need+=(libbenchmark-dev)
if [ "${1:-}" = --checks ]; then
  command -v clang++ > /dev/null || need+=(clang)
  command -v gdb > /dev/null || need+=(gdb)
  command -v clang-format > /dev/null || need+=(clang-format)
  command -v clang-tidy > /dev/null || need+=(clang-tidy)
  ls /usr/lib/llvm-*/lib/clang/*/lib/linux/libclang_rt.fuzzer-x86_64.a > /dev/null 2>&1 || need+=(libclang-rt-14-dev)
fi
if [ ${#need[@]} -gt 0 ]; then
  export DEBIAN_FRONTEND=noninteractive
  apt-get update
  apt-get install -y --no-install-recommends "${need[@]}"
fi
