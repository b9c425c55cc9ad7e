#!/usr/bin/env bash
# What the built libraries offer a program that links them:
#
#   check_exports.sh SHARED_LIBRARY STATIC_LIBRARY HEADER
#
# The shared library's SONAME is liblagscan.so.0, and the symbols it exports
# (nm -D --defined-only) are the header's interface and nothing else: each
# function the header marks LAGSCAN_API, the members of each class it marks
# so, and those classes' type information and virtual tables, which a host
# needs to catch the exceptions. Anything else (the support library's heap,
# pools, streams and error objects, copies of standard templates, operator
# new and delete) would become part of the interface or, worse, take the
# place of the host's own. Neither library defines the global operator new
# or delete.
set -euo pipefail
shared=$1
static=$2
header=$3

fail() {
  echo "FAILED: $*" >&2
  exit 1
}

soname=$(readelf -d "$shared" | sed -n 's/.*(SONAME).*\[\(.*\)\]/\1/p')
[ "$soname" = liblagscan.so.0 ] || fail "the SONAME is '$soname', not liblagscan.so.0"

# The header's names: functions declared `LAGSCAN_API type name(` and classes
# `class LAGSCAN_API name`.
functions=$(grep -oE 'LAGSCAN_API [^(]*[^A-Za-z0-9_(]([A-Za-z_][A-Za-z0-9_]*)\(' "$header" |
            grep -v 'LAGSCAN_API class' | sed -E 's/.*[^A-Za-z0-9_]([A-Za-z_][A-Za-z0-9_]*)\($/\1/' | sort -u)
classes=$(grep -oE 'class LAGSCAN_API [A-Za-z_][A-Za-z0-9_]*' "$header" | awk '{print $3}' | sort -u)
[ -n "$functions" ] || fail "found no LAGSCAN_API function in $header"
[ -n "$classes" ] || fail "found no LAGSCAN_API class in $header"

# Every name lives in the header's inline ABI namespace (lagscan::v0).
abi=$(sed -n 's/^inline namespace \([A-Za-z0-9_]*\) {$/\1/p' "$header" | head -1)
[ -n "$abi" ] || fail "$header opens no inline namespace for its ABI"
ns="lagscan::$abi"

allowed=()
# A function returning a std::string carries the string's ABI tag in its
# name: lagscan::report_page[abi:cxx11](...).
for name in $functions; do
  allowed+=("$ns::$name(" "$ns::$name[abi:cxx11](")
done
for name in $classes; do
  allowed+=("$ns::$name::" "typeinfo for $ns::$name" "typeinfo name for $ns::$name"
            "vtable for $ns::$name")
done

# nm prints "address type name"; the demangled name is the rest of the line.
exported=$(nm -D --defined-only -C "$shared" | cut -d' ' -f3-)
[ -n "$exported" ] || fail "$shared exports nothing"

strays=""
while IFS= read -r symbol; do
  ok=""
  for prefix in "${allowed[@]}"; do
    if [[ $symbol == "$prefix"* && ( $prefix == *"(" || $prefix == *"::" || $symbol == "$prefix" ) ]]; then
      ok=1
      break
    fi
  done
  [ -n "$ok" ] || strays+="  $symbol"$'\n'
done <<<"$exported"
[ -z "$strays" ] || fail "$shared exports more than the interface:"$'\n'"$strays"

# Each public name is reachable: a declaration that lost its LAGSCAN_API
# would compile in a program and fail only when it links.
for name in $functions; do
  grep -qE "^$ns::$name(\[abi:cxx11\])?\(" <<<"$exported" || fail "$shared does not export $ns::$name"
done
for name in $classes; do
  for what in "typeinfo for" "vtable for"; do
    grep -qxF "$what $ns::$name" <<<"$exported" || fail "$shared does not export $what $ns::$name"
  done
done

for library in "$shared" "$static"; do
  replaced=$(nm --defined-only -C "$library" 2>/dev/null | grep -E ' operator (new|delete)' || true)
  [ -z "$replaced" ] || fail "$library defines the global operator new or delete:"$'\n'"$replaced"
done

echo "$(wc -l <<<"$exported") symbols exported, all of the interface: $(echo $functions) and the classes $(echo $classes)"
