#!/usr/bin/env bash
# Builds the packages of a build folder the way a user would, installs them
# into a scratch folder and runs what was installed:
#
#   check_package.sh BUILD_DIR deb     the Debian packages lagscan,
#                                      liblagscan0 and liblagscan-dev: each
#                                      unpacked with dpkg-deb and holding its
#                                      own files, both programs run on the
#                                      sample files, both manual pages
#                                      rendered, lintian without errors on
#                                      each; also `cmake --install --prefix`
#   check_package.sh BUILD_DIR zip RUNNER...
#                                      the Windows .zip: both programs, the
#                                      README, the headers, the static
#                                      library and its CMake package, the
#                                      programs run under RUNNER (wine)
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
    # python3-lagscan, where the module is built, has a test of its own
    # (check_python_package.sh).
    cpack --config "$build/CPackConfig.cmake" -G DEB -B "$scratch/out" \
          -D "CPACK_COMPONENTS_ALL=programs;library;development" >/dev/null
    version=$(sed -n 's/^set(CPACK_PACKAGE_VERSION "\(.*\)")$/\1/p' "$build/CPackConfig.cmake")
    [ -n "$version" ] || fail "no version in CPackConfig.cmake"
    deb() { echo "$scratch/out/$1_${version}_amd64.deb"; }
    made=$(cd "$scratch/out" && ls ./*.deb | sort | tr '\n' ' ')
    [ "$made" = "./lagscan_${version}_amd64.deb ./liblagscan-dev_${version}_amd64.deb ./liblagscan0_${version}_amd64.deb " ] ||
      fail "cpack made $made, not lagscan, liblagscan0 and liblagscan-dev"

    # Each package unpacked on its own: a file in the wrong package shows
    # as missing, and a package holds nothing that belongs to another.
    libdir=usr/lib/x86_64-linux-gnu
    declare -A holds=(
      [lagscan]="usr/bin/lagscan usr/bin/lagscan-matrix usr/share/man/man1/lagscan.1.gz
                 usr/share/man/man1/lagscan-matrix.1.gz usr/share/doc/lagscan/README.md
                 usr/share/doc/lagscan/examples/rising.xy"
      [liblagscan0]="$libdir/liblagscan.so.0 $libdir/liblagscan.so.0.$(cut -d. -f2- <<<"$version")"
      [liblagscan-dev]="usr/include/lagscan/lagscan.hpp usr/include/lagscan/export.hpp
                        usr/include/lagscan/version.hpp $libdir/liblagscan.so $libdir/liblagscan.a
                        $libdir/cmake/lagscan/lagscanConfig.cmake
                        $libdir/cmake/lagscan/lagscanConfigVersion.cmake
                        $libdir/cmake/lagscan/lagscanTargets.cmake $libdir/pkgconfig/lagscan.pc
                        usr/share/doc/liblagscan-dev/examples/consumer/CMakeLists.txt
                        usr/share/doc/liblagscan-dev/library.md")
    for package in lagscan liblagscan0 liblagscan-dev; do
      dpkg-deb -x "$(deb $package)" "$package"
      for file in ${holds[$package]} usr/share/doc/$package/copyright usr/share/doc/$package/changelog.gz; do
        [ -e "$package/$file" ] || [ -L "$package/$file" ] || fail "$package holds no $file"
      done
      grep -q "^License: Expat" "$package/usr/share/doc/$package/copyright" ||
        fail "$package's copyright file does not name the MIT (Expat) licence"
      for other in "${!holds[@]}"; do
        [ "$other" = "$package" ] && continue
        for file in ${holds[$other]}; do
          [ ! -e "$package/$file" ] && [ ! -L "$package/$file" ] || fail "$package holds $file, which belongs to $other"
        done
      done
    done
    [ "$(readlink "liblagscan-dev/$libdir/liblagscan.so")" = liblagscan.so.0 ] ||
      fail "liblagscan.so does not link to liblagscan.so.0"
    [ "$(dpkg-deb -f "$(deb liblagscan-dev)" Depends)" = "liblagscan0 (= $version)" ] ||
      fail "liblagscan-dev depends on '$(dpkg-deb -f "$(deb liblagscan-dev)" Depends)', not liblagscan0 (= $version)"
    dpkg-deb -e "$(deb liblagscan0)" control
    [ "$(cat control/shlibs)" = "liblagscan 0 liblagscan0 (>= $version)" ] ||
      fail "liblagscan0's shlibs file says: $(cat control/shlibs)"
    grep -qx "activate-noawait ldconfig" control/triggers || fail "liblagscan0 has no ldconfig trigger"
    # The trigger does the work: maintainer scripts calling ldconfig are what
    # lintian warns of (maintscript-calls-ldconfig).
    ! grep -qs ldconfig control/postinst control/postrm || fail "liblagscan0's maintainer scripts call ldconfig"
    grep -q '^prefix=/usr$' "liblagscan-dev/$libdir/pkgconfig/lagscan.pc" ||
      fail "the packaged lagscan.pc does not name /usr as its prefix"

    depends=$(dpkg-deb -f "$(deb lagscan)" Depends)
    echo "Depends: $depends"
    for library in libc6 libgomp1 libstdc++6; do
      [[ $depends == *"$library"* ]] || fail "the package does not depend on $library"
    done
    # --fast has its own Gram kernel: no package needs or suggests a BLAS,
    # and the pkg-config file links none.
    for package in lagscan liblagscan0 liblagscan-dev; do
      fields=$(dpkg-deb -f "$(deb $package)" Depends Recommends Suggests)
      ! grep -qi blas <<<"$fields" || fail "$package names a BLAS: $fields"
    done
    ! grep -qi blas "liblagscan-dev/$libdir/pkgconfig/lagscan.pc" || fail "lagscan.pc links a BLAS"
    usr=$scratch/lagscan/usr
    examples=$usr/share/doc/lagscan/examples
    expect_lagscan "$usr/bin/lagscan" "$examples/rising.xy" "$examples/falling.xy" 3
    expect_matrix "$usr/bin/lagscan-matrix" 3 "$examples/rising.xy" "$examples/falling.xy"
    "$usr/bin/lagscan-matrix" --version | grep -q "$version" ||
      fail "lagscan-matrix --version does not print the package's version"
    for page in lagscan lagscan-matrix; do
      file=$usr/share/man/man1/$page.1.gz
      warnings=$(zcat "$file" | groff -man -ww -z 2>&1)
      [ -z "$warnings" ] || fail "groff warns on $page(1): $warnings"
      MANWIDTH=80 man -l "$file" 2>&1 | grep -q "^NAME" || fail "man -l cannot render $page(1)"
    done
    # lintian refuses nothing for running as root, but says so on every run.
    report=$(lintian --tag-display-limit 0 "$scratch"/out/*.deb 2>&1 | grep -v "running with root privileges" || true)
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
    for file in bin/lagscan.exe bin/lagscan-matrix.exe README.md LICENSE examples/rising.xy include/lagscan/lagscan.hpp \
                include/lagscan/version.hpp lib/liblagscan.a lib/cmake/lagscan/lagscanConfig.cmake \
                lib/cmake/lagscan/lagscanTargets.cmake; do
      [ -f "$top/$file" ] || fail "the .zip holds no $file"
    done
    top=$(cd "$top" && pwd)
    cd "$top"
    expect_lagscan "${runner[@]}" bin/lagscan.exe examples/rising.xy examples/falling.xy 3
    expect_matrix "${runner[@]}" bin/lagscan-matrix.exe 3 examples/rising.xy examples/falling.xy

    # The example consumer, cross-built against the unpacked .zip's CMake
    # package with the build's own toolchain, prints the programs' bytes.
    toolchain=$(sed -n 's/^CMAKE_TOOLCHAIN_FILE:[A-Z]*=//p' "$build/CMakeCache.txt")
    cmake -S examples/consumer -B "$scratch/consumer" --toolchain "$toolchain" -DCMAKE_BUILD_TYPE=Release \
          -Dlagscan_DIR="$top/lib/cmake/lagscan" >"$scratch/consumer.log" 2>&1 &&
      cmake --build "$scratch/consumer" >>"$scratch/consumer.log" 2>&1 ||
      fail "building the consumer against the .zip failed: $(cat "$scratch/consumer.log")"
    cd examples
    expected=$("${runner[@]}" ../bin/lagscan.exe rising.xy falling.xy 3 || true
               "${runner[@]}" ../bin/lagscan-matrix.exe -q 3 rising.xy falling.xy dip.xy)
    out=$("${runner[@]}" "$scratch/consumer/consumer.exe" 3 rising.xy falling.xy dip.xy) ||
      fail "the consumer ended with status $?"
    [ "$out" = "$expected" ] || fail "the consumer printed"$'\n'"$out"$'\n'"instead of"$'\n'"$expected"
    ;;
  *) fail "unknown kind $kind" ;;
esac
echo "package $kind: fine"
