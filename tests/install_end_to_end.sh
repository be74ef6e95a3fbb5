#!/usr/bin/env bash
# The installed package as other programs use it: a shared build with the
# Python module installed under a prefix in the build folder, then the C and
# C++ examples built with pkg-config and with find_package, the Python tests
# and examples run by /usr/bin/python3, the PARI/GP script, the pictures and
# the man page, each against what the command line says.
# Usage: install_end_to_end.sh BUILD_DIR (configured with -DBUILD_SHARED_LIBS=ON -DSIGMA_PYTHON=ON)
set -u
build=$(realpath "$1")
top=$(realpath "$(dirname "$0")/..")
prefix=$build/prefix
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
source "$top/tests/expect.sh"
rm -rf "$prefix"
cmake --install "$build" --prefix "$prefix" > /dev/null
program=$prefix/bin/sigma-census
pydir=$(ls -d "$prefix"/lib/python3*/dist-packages)
cd "$work"

expect "installed: the shared library with its SONAME" test -L "$prefix/lib/libsigma-census.so.1"
expect "installed: the program runs from the prefix" sh -c '"$0" --format=tsv 1 1000 > cli.tsv' "$program"
for bounds in "1 1000000" "1000000000000 1000000100000" "9223372036854675807 9223372036854775807"; do
  "$program" --format=tsv $bounds > "cli $bounds.tsv"
done

# C and C++ against pkg-config.
export PKG_CONFIG_PATH=$prefix/lib/pkgconfig LD_LIBRARY_PATH=$prefix/lib
expect "pkg-config: the C example builds" \
  sh -c 'cc -std=c11 -Wall -Werror "$0/examples/census.c" $(pkg-config --cflags --libs sigma-census) -o census_c' "$top"
expect "pkg-config: the C++ example builds" \
  sh -c 'c++ -std=c++20 -Wall -Werror "$0/examples/census.cpp" $(pkg-config --cflags --libs sigma-census) -o census_cpp' "$top"
for bounds in "1 1000000" "1000000000000 1000000100000" "9223372036854675807 9223372036854775807"; do
  ./census_c $bounds 720 > c.out
  expect "C, [$bounds]: the command line's histogram" cmp -s <(grep -v '^sigma' c.out) "cli $bounds.tsv"
  ./census_cpp $bounds > cpp.out
  expect "C++, [$bounds]: the command line's histogram" cmp -s <(grep -v '^#' cpp.out) "cli $bounds.tsv"
done
expect "C: the preimages of 720" grep -q '^sigma(m) = 720 for 15 m: 264 270 280 .* 719$' c.out

# C and C++ against the CMake package.
cmake -S "$top/examples" -B consumer -DCMAKE_PREFIX_PATH="$prefix" > /dev/null
expect "find_package: the examples build" sh -c 'cmake --build consumer > /dev/null'
consumer/census_cpp 1 1000000 > cpp.out
expect "find_package: the C++ example's histogram" cmp -s <(grep -v '^#' cpp.out) "cli 1 1000000.tsv"
consumer/census_c 1 1000000 12 > c.out
expect "find_package: the C example's histogram" cmp -s <(grep -v '^sigma' c.out) "cli 1 1000000.tsv"

# Python: the tests, the example and the pictures, by Debian's interpreter
# (the module finds the library through its own run path).
unset LD_LIBRARY_PATH
export PYTHONPATH=$pydir SIGMA_CENSUS_PROGRAM=$program
/usr/bin/python3 -m pytest -q -p no:cacheprovider "$top/python/tests"
expect "pytest: the module's tests" test $? = 0
/usr/bin/python3 "$top/examples/census.py" 1 1000000 > py.out
expect "Python example: the command line's histogram" cmp -s <(grep -v '^#' py.out) "cli 1 1000000.tsv"
/usr/bin/python3 "$top/examples/plot_census.py" "$top/bench/frontier" pictures 1000000 > /dev/null
for picture in frontier histogram; do
  expect "picture $picture.png drawn" sh -c 'head -c 8 "$0" | od -An -c | grep -q "P   N   G"' "pictures/$picture.png"
done

# PARI/GP through install().
export LD_LIBRARY_PATH=$prefix/lib
SIGMA_CENSUS_LIB=$prefix/lib/libsigma-census.so gp -q "$top/examples/sigma_census.gp" > gp.out
expect "PARI/GP: the same counts as GP's own sigma" test $? = 0
expect "PARI/GP: 3 * 20! has 4957364730 preimages" grep -q ': 4957364730$' gp.out

# The man page renders, with every option --help names and every exit status.
man -l "$prefix/share/man/man1/sigma-census.1" > man.txt 2> /dev/null
expect "the man page renders" grep -q 'EXIT STATUS' man.txt
for option in $("$program" --help | grep -o -- '--[a-z]*' | sort -u); do
  expect "the man page names $option" grep -q -- "$option" man.txt
done
for status in $("$program" --help | sed -n 's/^  \([0-9][0-9]*\) .*/\1/p'); do
  expect "the man page names exit status $status" grep -q "$status" man.txt
done

finish
