#!/usr/bin/env bash
# Builds examples/consumer against the library as installed, the way another
# project would, and compares what it prints with the programs' output:
#
#   check_consumer.sh BUILD_DIR SOURCE_DIR
#
# The build folder is installed into a scratch prefix; the consumer is built
# four times against it: by find_package (CMAKE_PREFIX_PATH) with the shared
# and with the static library, and by pkg-config (PKG_CONFIG_PATH) with each.
# Every build prints, for the same files, byte for byte what `lagscan` and
# `lagscan-matrix -q` print. The package's version file takes 0.3 and
# refuses the minor versions on either side and the next major one.
set -euo pipefail
build=$(cd "$1" && pwd)
source=$(cd "$2" && pwd)
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

fail() {
  echo "FAILED: $*" >&2
  exit 1
}

prefix=$scratch/prefix
cmake --install "$build" --prefix "$prefix" >/dev/null
version=$(sed -n 's/^#define LAGSCAN_VERSION_STRING "\(.*\)"$/\1/p' "$prefix/include/lagscan/version.hpp")
[ -n "$version" ] || fail "the installed version.hpp names no version"
libdir=$(cd "$prefix" && dirname "$(ls lib*/liblagscan.so.0 lib/*/liblagscan.so.0 2>/dev/null | head -1)")
[ "$libdir" != . ] || fail "no liblagscan.so.0 under $prefix"
for file in include/lagscan/lagscan.hpp include/lagscan/export.hpp "$libdir/liblagscan.so" "$libdir/liblagscan.a" \
            "$libdir/liblagscan.so.$version" "$libdir/pkgconfig/lagscan.pc" "$libdir/cmake/lagscan/lagscanConfig.cmake" \
            "$libdir/cmake/lagscan/lagscanConfigVersion.cmake"; do
  [ -e "$prefix/$file" ] || fail "cmake --install put no $file into the prefix"
done

# The sample files and two longer series, whose values differ in every digit
# printed; run where they are, so that the tables' labels are the same names.
data=$scratch/data
mkdir "$data"
cp "$source"/examples/*.xy "$data"
awk 'BEGIN { for (i = 0; i < 400; ++i) printf "%d %.6f\n", i, sin(i / 7.0) + (i % 13) / 10.0 }' >"$data/wave.xy"
awk 'BEGIN { for (i = 0; i < 400; ++i) printf "%d %.6f\n", i, cos(i / 5.0) * (1 + (i % 7) / 3.0) }' >"$data/beat.xy"
cd "$data"
expected() {
  local s=$1 first=$2 second=$3
  shift 3
  "$prefix/bin/lagscan" "$first" "$second" "$s" || true  # lagscan always ends with status 1
  "$prefix/bin/lagscan-matrix" -q "$s" "$first" "$second" "$@"
}
expected 3 rising.xy falling.xy dip.xy flat.xy >"$scratch/small.expected"
expected 31 wave.xy beat.xy >"$scratch/long.expected"

# consumer NAME: runs build NAME's consumer on both sets and compares.
check_consumer() {
  local program=$scratch/$1/consumer out status
  [ -x "$program" ] || fail "$1: no consumer was built"
  out=$("$program" 3 rising.xy falling.xy dip.xy flat.xy 2>"$scratch/$1.err"; printf x) || fail "$1: the consumer failed"
  [ -s "$scratch/$1.err" ] && fail "$1: the consumer wrote to standard error: $(cat "$scratch/$1.err")"
  printf '%s' "${out%x}" | cmp -s - "$scratch/small.expected" ||
    fail "$1: the consumer printed"$'\n'"${out%x}"$'\n'"instead of"$'\n'"$(cat "$scratch/small.expected")"
  "$program" 31 wave.xy beat.xy | cmp -s - "$scratch/long.expected" ||
    fail "$1: the consumer's values for the long series differ from the programs'"
  # A file that cannot be read comes back as an exception with the
  # command's words.
  status=0
  out=$("$program" 3 rising.xy missing.xy 2>&1) || status=$?
  [ $status -eq 1 ] && [[ $out == "consumer: "*"missing.xy"* ]] ||
    fail "$1: for a missing file the consumer ended with $status and printed: $out"
  echo "$1: the programs' bytes"
}

# Shared objects found by the loader: the CMake builds carry the prefix in
# their run path, the Makefile writes it in as well.
needs_lagscan() { readelf -d "$1" | grep -q 'NEEDED.*\[liblagscan\.so\.0\]'; }

for kind in shared static; do
  cmake_static=OFF
  [ $kind = static ] && cmake_static=ON
  cmake -S "$source/examples/consumer" -B "$scratch/cmake-$kind" -DCMAKE_PREFIX_PATH="$prefix" \
        -DCONSUMER_STATIC=$cmake_static -DCMAKE_BUILD_TYPE=Release >"$scratch/cmake-$kind.log" 2>&1 ||
    fail "configuring the consumer ($kind) failed: $(cat "$scratch/cmake-$kind.log")"
  cmake --build "$scratch/cmake-$kind" >>"$scratch/cmake-$kind.log" 2>&1 ||
    fail "building the consumer ($kind) failed: $(cat "$scratch/cmake-$kind.log")"
  grep -q "lagscan_DIR:PATH=$prefix/$libdir/cmake/lagscan" "$scratch/cmake-$kind/CMakeCache.txt" ||
    fail "find_package found another lagscan: $(grep lagscan_DIR "$scratch/cmake-$kind/CMakeCache.txt")"
  check_consumer "cmake-$kind"

  cp -r "$source/examples/consumer" "$scratch/make-$kind"
  make_static=0
  [ $kind = static ] && make_static=1
  PKG_CONFIG_PATH="$prefix/$libdir/pkgconfig" make -C "$scratch/make-$kind" STATIC=$make_static \
    >"$scratch/make-$kind.log" 2>&1 || fail "building the consumer with pkg-config ($kind) failed: $(cat "$scratch/make-$kind.log")"
  check_consumer "make-$kind"

  for build_kind in cmake make; do
    if [ $kind = shared ]; then
      needs_lagscan "$scratch/$build_kind-$kind/consumer" || fail "$build_kind-$kind: the consumer does not load liblagscan.so.0"
    else
      ! needs_lagscan "$scratch/$build_kind-$kind/consumer" || fail "$build_kind-$kind: the consumer loads liblagscan.so.0"
    fi
  done
done

# The version file: while the major version is 0, this minor version only.
IFS=. read -r major minor patch <<<"$version"
[ "$major" -eq 0 ] || fail "version $version: from 1.0 on, any later minor version is compatible: change this check"
mkdir "$scratch/versions"
cat >"$scratch/versions/CMakeLists.txt" <<'EOF'
cmake_minimum_required(VERSION 3.18)
project(versions LANGUAGES CXX)
foreach(wanted IN LISTS WANTED)
  find_package(lagscan ${wanted} CONFIG QUIET)
  message(STATUS "wanted ${wanted}: ${lagscan_FOUND}")
  unset(lagscan_FOUND)
endforeach()
EOF
wanted="$major.$minor;$major.$minor.$patch;$major.$((minor + 1));$((major + 1)).0"
expected_answers="$major.$minor: 1 $major.$minor.$patch: 1 $major.$((minor + 1)): 0 $((major + 1)).0: 0 "
if [ "$minor" -gt 0 ]; then
  wanted+=";$major.$((minor - 1))"
  expected_answers+="$major.$((minor - 1)): 0 "
fi
answers=$(cmake -S "$scratch/versions" -B "$scratch/versions/build" -DCMAKE_PREFIX_PATH="$prefix" "-DWANTED=$wanted" 2>&1 |
          sed -n 's/^-- wanted //p' | tr '\n' ' ')
[ "$answers" = "$expected_answers" ] || fail "find_package by version gave: $answers instead of $expected_answers"
echo "find_package by version: $answers"
echo "consumer: fine"
