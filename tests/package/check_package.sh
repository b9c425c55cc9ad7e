#!/usr/bin/env bash
# Builds the packages of a build folder the way a user would, installs them
# into a scratch folder and runs what was installed:
#
#   check_package.sh BUILD_DIR deb     the Debian package: unpacked with
#                                      dpkg-deb, both programs run on the
#                                      sample files, both manual pages
#                                      rendered, lintian without errors;
#                                      also `cmake --install --prefix`
#   check_package.sh BUILD_DIR zip RUNNER...
#                                      the Windows .zip: both programs and
#                                      the README, the programs run under
#                                      RUNNER (wine)
set -euo pipefail
build=$(cd "$1" && pwd)
kind=$2
shift 2
runner=("$@")
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

fail() {
  echo "FAILED: $*" >&2
  exit 1
}

# lagscan's one line of output for the ramps of examples/, and its status.
expect_lagscan() {
  local out status=0
  out=$("$@") || status=$?
  [ $status -eq 1 ] || fail "$* ended with status $status, not 1"
  [ "$(printf '%s' "$out" | tr -d '\r')" = $'\nCross Correlation 0.818181818' ] || fail "$* printed: $out"
}

# lagscan-matrix on the same two files: a table whose off-diagonal entries
# are lagscan's value.
expect_matrix() {
  local out
  out=$("$@") || fail "$* ended with status $?"
  printf '%s' "$out" | grep -q "0.818181818" || fail "$* printed: $out"
}

cd "$scratch"
case $kind in
  deb)
    cpack --config "$build/CPackConfig.cmake" -G DEB -B "$scratch/out" >/dev/null
    deb=$(ls "$scratch"/out/*.deb)
    [ -n "$deb" ] || fail "no .deb was made"
    depends=$(dpkg-deb -f "$deb" Depends)
    echo "Depends: $depends"
    for library in libc6 libgomp1 libstdc++6; do
      [[ $depends == *"$library"* ]] || fail "the package does not depend on $library"
    done
    dpkg-deb -x "$deb" root
    usr=$scratch/root/usr
    examples=$usr/share/doc/lagscan/examples
    [ -f "$usr/share/doc/lagscan/README.md" ] || fail "no README in share/doc/lagscan"
    grep -q "^License: Expat" "$usr/share/doc/lagscan/copyright" || fail "no copyright file naming the MIT (Expat) licence"
    expect_lagscan "$usr/bin/lagscan" "$examples/rising.xy" "$examples/falling.xy" 3
    expect_matrix "$usr/bin/lagscan-matrix" 3 "$examples/rising.xy" "$examples/falling.xy"
    "$usr/bin/lagscan-matrix" --version | grep -q "$(dpkg-deb -f "$deb" Version)" ||
      fail "lagscan-matrix --version does not print the package's version"
    for page in lagscan lagscan-matrix; do
      file=$usr/share/man/man1/$page.1.gz
      [ -f "$file" ] || fail "no manual page $page(1)"
      warnings=$(zcat "$file" | groff -man -ww -z 2>&1)
      [ -z "$warnings" ] || fail "groff warns on $page(1): $warnings"
      MANWIDTH=80 man -l "$file" 2>&1 | grep -q "^NAME" || fail "man -l cannot render $page(1)"
    done
    # lintian refuses nothing for running as root, but says so on every run.
    report=$(lintian --no-tag-display-limit "$deb" 2>&1 | grep -v "running with root privileges" || true)
    printf '%s\n' "$report"
    if printf '%s\n' "$report" | grep -q "^E:"; then fail "lintian reports errors"; fi

    cmake --install "$build" --prefix "$scratch/prefix" >/dev/null
    expect_lagscan "$scratch/prefix/bin/lagscan" "$examples/rising.xy" "$examples/falling.xy" 3
    [ -x "$scratch/prefix/bin/lagscan-matrix" ] || fail "cmake --install left out lagscan-matrix"
    ;;
  zip)
    cpack --config "$build/CPackConfig.cmake" -G ZIP -B "$scratch/out" >/dev/null
    zip=$(ls "$scratch"/out/*.zip)
    [ -n "$zip" ] || fail "no .zip was made"
    mkdir unpacked
    (cd unpacked && cmake -E tar xf "$zip")
    top=$(ls -d unpacked/*/)
    for file in bin/lagscan.exe bin/lagscan-matrix.exe README.md LICENSE examples/rising.xy; do
      [ -f "$top/$file" ] || fail "the .zip holds no $file"
    done
    cd "$top"
    expect_lagscan "${runner[@]}" bin/lagscan.exe examples/rising.xy examples/falling.xy 3
    expect_matrix "${runner[@]}" bin/lagscan-matrix.exe 3 examples/rising.xy examples/falling.xy
    ;;
  *) fail "unknown kind $kind" ;;
esac
echo "package $kind: fine"
