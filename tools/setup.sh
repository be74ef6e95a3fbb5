#!/usr/bin/env bash
# Installs what building and testing need, where a fresh Debian machine lacks it.
# --checks: also what every check needs (clang, gdb, python3, the fuzzer runtime, Open MPI, and for the
# installed library pkg-config, pybind11, numpy, pytest, matplotlib, PARI/GP and man, and Slurm with munge
# for the batch queue's test); --mpi: Open MPI.
set -euo pipefail
need=()
command -v cmake > /dev/null || need+=(cmake)
command -v g++ > /dev/null || need+=(g++)
command -v make > /dev/null || need+=(make)
[ -f /usr/include/gtest/gtest.h ] || need+=(libgtest-dev)
[ -f /usr/include/benchmark/benchmark.h ] || need+=(libbenchmark-dev)
[ -f /usr/include/CLI/CLI.hpp ] || need+=(libcli11-dev)
[ -f /usr/include/xxhash.h ] || need+=(libxxhash-dev)
if [ "${1:-}" = --checks ] || [ "${1:-}" = --mpi ]; then
  command -v mpirun > /dev/null || need+=(openmpi-bin)
  [ -f /usr/include/x86_64-linux-gnu/openmpi/mpi.h ] || [ -f /usr/lib/x86_64-linux-gnu/openmpi/include/mpi.h ] ||
    need+=(libopenmpi-dev)
fi
if [ "${1:-}" = --checks ]; then
  command -v clang++ > /dev/null || need+=(clang)
  command -v gdb > /dev/null || need+=(gdb)
  command -v python3 > /dev/null || need+=(python3)
  command -v clang-format > /dev/null || need+=(clang-format)
  command -v clang-tidy > /dev/null || need+=(clang-tidy)
  ls /usr/lib/llvm-*/lib/clang/*/lib/linux/libclang_rt.fuzzer-x86_64.a > /dev/null 2>&1 || need+=(libclang-rt-14-dev)
  command -v pkg-config > /dev/null || need+=(pkg-config)
  command -v cc > /dev/null || need+=(gcc)
  [ -f /usr/include/pybind11/pybind11.h ] || need+=(pybind11-dev)
  /usr/bin/python3 -c 'import pybind11' 2> /dev/null || need+=(python3-pybind11)
  /usr/bin/python3 -c 'import numpy' 2> /dev/null || need+=(python3-numpy)
  /usr/bin/python3 -c 'import pytest' 2> /dev/null || need+=(python3-pytest)
  /usr/bin/python3 -c 'import matplotlib' 2> /dev/null || need+=(python3-matplotlib)
  [ -f /usr/include/python3.11/Python.h ] || need+=(python3-dev)
  command -v gp > /dev/null || need+=(pari-gp)
  command -v man > /dev/null || need+=(man-db)
  command -v slurmctld > /dev/null || need+=(slurm-wlm)
  command -v munged > /dev/null || need+=(munge)
fi
if [ ${#need[@]} -gt 0 ]; then
  export DEBIAN_FRONTEND=noninteractive
  apt-get update
  apt-get install -y --no-install-recommends "${need[@]}"
fi
