#!/usr/bin/env bash
# Builds the Debian package python3-lagscan of a build folder with the
# liblagscan0 it depends on, unpacks both into a scratch folder and imports
# the module from there with Debian's interpreter; lintian without errors.
#
#   check_python_package.sh BUILD_DIR PYTHON
set -euo pipefail
build=$(cd "$1" && pwd)
python=$2
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

fail() {
  echo "FAILED: $*" >&2
  exit 1
}

cd "$scratch"
cpack --config "$build/CPackConfig.cmake" -G DEB -B "$scratch/out" -D "CPACK_COMPONENTS_ALL=library;python" >/dev/null
deb=$(ls "$scratch"/out/python3-lagscan_*.deb)
library=$(ls "$scratch"/out/liblagscan0_*.deb)
[ -f "$deb" ] && [ -f "$library" ] || fail "no python3-lagscan or liblagscan0 package was made"

version=$(dpkg-deb -f "$deb" Version)
depends=$(dpkg-deb -f "$deb" Depends)
echo "Depends: $depends"
for dependency in "liblagscan0 (= $version)" python3-numpy "python3 (>= " "python3 (<< " libc6 libstdc++6; do
  [[ $depends == *"$dependency"* ]] || fail "python3-lagscan does not depend on $dependency"
done
[[ $depends != *blas* ]] || fail "python3-lagscan depends on a BLAS: $depends"
[ "$(dpkg-deb -f "$deb" Section)" = python ] || fail "python3-lagscan is not in section python"

dpkg-deb -x "$deb" root
dpkg-deb -x "$library" root
package=root/usr/lib/python3/dist-packages/lagscan
for file in __init__.py _lagscan.pyi py.typed; do
  [ -f "$package/$file" ] || fail "the package holds no $file"
done
ls "$package"/_lagscan.cpython-*.so >/dev/null || fail "the package holds no compiled module"
for file in copyright changelog.gz python.md; do
  [ -f "root/usr/share/doc/python3-lagscan/$file" ] || fail "no $file in share/doc/python3-lagscan"
done

# A rising and a falling ramp, for the module and the command.
for i in $(seq 0 10); do echo "$i $i" >>rising.xy; echo "$i $((10 - i))" >>falling.xy; done
# lagscan ends with status 1 whatever happens.
command_says=$({ "$build/lagscan" rising.xy falling.xy 3 || true; } | sed -n 's/^Cross Correlation //p')

# The module finds liblagscan.so.0 beside it in the unpacked tree by its own
# run path: no LD_LIBRARY_PATH, nothing of the build on the path.
out=$(env -u LD_LIBRARY_PATH PYTHONPATH="$scratch/root/usr/lib/python3/dist-packages" PYTHONNOUSERSITE=1 \
      PYTHONDONTWRITEBYTECODE=1 "$python" -c '
import lagscan
print(lagscan.__file__)
print(lagscan.__version__)
print("%.9g" % lagscan.correlation(lagscan.read_xy("rising.xy"), list(range(10, -1, -1)), 3))
print(lagscan.matrix([[1.0, 2.0, 3.0], [3.0, 2.0, 1.0]], 3, fast=True).shape)
') || fail "the unpacked module does not import: $out"
expected="$scratch/$package/__init__.py
$version
$command_says
(2, 2)"
[ "$out" = "$expected" ] || fail "the unpacked module printed:
$out
instead of:
$expected"

# lintian refuses nothing for running as root, but says so on every run.
report=$(lintian --no-tag-display-limit "$deb" 2>&1 | grep -v "running with root privileges" || true)
printf '%s\n' "$report"
if printf '%s\n' "$report" | grep -q "^E:"; then fail "lintian reports errors"; fi
echo "package python3-lagscan: fine"
