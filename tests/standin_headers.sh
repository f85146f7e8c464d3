#!/usr/bin/env bash
# The stand-in platform's constants must be the real ones. Runtime code is
# written once against the Win32/DirectX names; if the stand-in gave one of
# them a different value (a blend factor, a scan code, a result code), the
# native build and its tests would agree with each other and still be wrong
# on Windows. So: every upper-case constant the runtime uses is evaluated
# with our headers, and the values are checked at compile time against the
# real MinGW-w64 headers for both Windows targets. The sizes of the records
# the runtime fills are checked against the 64-bit ones (same data model).
#
# Arguments (as for every script test): <binary dir> <source dir>.
set -u

source_dir=${2:-$(cd "$(dirname "$0")/.." && pwd)}
fail() { echo "standin_headers: FAIL: $*" >&2; exit 1; }
note() { echo "standin_headers: $*" >&2; }

host_cxx=${CXX:-g++}
command -v "$host_cxx" >/dev/null || fail "no host C++ compiler"
for cross in x86_64-w64-mingw32-g++ i686-w64-mingw32-g++; do
  command -v "$cross" >/dev/null || fail "$cross is not installed (scripts/setup installs it)"
done

work=$(mktemp -d "${TMPDIR:-/tmp}/ringscroller-headers.XXXXXX") || fail "no temporary folder"
trap 'rm -rf "$work"' EXIT

runtime_dirs=(core demo screen sprites drawing input sound)
sources=()
for dir in "${runtime_dirs[@]}"; do
  for file in "$source_dir/src/$dir"/*.cpp "$source_dir/src/$dir"/*.h; do
    [ -f "$file" ] && sources+=("$file")
  done
done
[ ${#sources[@]} -gt 0 ] || fail "no runtime sources under $source_dir/src"

# Candidates: every NAME_LIKE_THIS in the runtime. Some are types or
# function-like macros; the native compile below weeds those out.
# The C library's limits (SIZE_MAX, INT32_MAX ...) belong to the target, not
# to the stand-in, and differ with the pointer size: leave them out.
grep -ohE '\b[A-Z][A-Z0-9]*_[A-Z0-9_]+\b' "${sources[@]}" | sort -u |
  grep -vE '^(U?INT(8|16|32|64|PTR|MAX)?_(MAX|MIN)|SIZE_MAX|PTRDIFF_(MAX|MIN)|FLT_.*|DBL_.*)$' >"$work/names"

# The records the runtime hands to the platform.
records=(DDSURFACEDESC2 DDPIXELFORMAT DDSCAPS2 DDBLTFX DDCOLORKEY D3DTLVERTEX WNDCLASSEXA MSG DSBUFFERDESC RECT
  PAINTSTRUCT GUID)

# Compiles the generated file natively, dropping each line that does not
# compile (each line holds one name), until it compiles. Prints nothing.
prune() {
  local file=$1 names=$2 generator=$3 round
  for round in 1 2 3 4 5 6; do
    "$generator" "$names" >"$file"
    "$host_cxx" -std=c++17 -fsyntax-only -I"$source_dir/src" "$file" 2>"$work/errors" && return 0
    # Generated lines start at line 4; map error lines back to names.
    grep -oE "^$file:[0-9]+:" "$work/errors" | grep -oE '[0-9]+:$' | tr -d ':' | sort -un |
      awk '$1 >= 4 { print $1 - 3 }' >"$work/bad_lines"
    [ -s "$work/bad_lines" ] || fail "the native check does not compile: $(head -n5 "$work/errors")"
    awk 'NR == FNR { bad[$1] = 1; next } !(FNR in bad)' "$work/bad_lines" "$names" >"$names.next"
    mv "$names.next" "$names"
  done
  fail "could not settle the list of constants"
}

print_values() {
  echo '#include "platform/api.h"'
  echo '#include <cstdio>'
  echo 'int main() {'
  while read -r name; do echo "  std::printf(\"%s %lld\\n\", \"$name\", static_cast<long long>($name));"; done <"$1"
  echo '  return 0; }'
}
prune "$work/values.cpp" "$work/names" print_values

check_values() {
  echo '#include "platform/api.h"'
  echo '// One constant per line, as the native values say they must be.'
  echo '#define SAME(name, value) static_assert(static_cast<long long>(name) == value##LL, #name)'
  while read -r name value; do echo "SAME($name, $value);"; done <"$1"
}

"$host_cxx" -std=c++17 -I"$source_dir/src" "$work/values.cpp" -o "$work/values" 2>"$work/errors" ||
  fail "the native value printer does not build: $(head -n5 "$work/errors")"
"$work/values" >"$work/native_values" || fail "the native value printer failed"
# Only compile-time constants can be compared this way (not, say, a handle).
prune "$work/check.cpp" "$work/native_values" check_values
count=$(wc -l <"$work/native_values")
[ "$count" -ge 40 ] || fail "only $count constants found in the runtime; the name scan is broken"

sizes() {
  echo '#include "platform/api.h"'
  echo '#include <cstdio>'
  echo 'int main() {'
  for record in "${records[@]}"; do echo "  std::printf(\"%s %zu\\n\", \"$record\", sizeof($record));"; done
  echo '  return 0; }'
}
sizes >"$work/sizes.cpp"
"$host_cxx" -std=c++17 -I"$source_dir/src" "$work/sizes.cpp" -o "$work/sizes" 2>"$work/errors" ||
  fail "a record the runtime uses is missing from the stand-in: $(grep error "$work/errors" | head -n5)"
"$work/sizes" >"$work/native_sizes"
{
  cat "$work/check.cpp"
  while read -r record size; do echo "static_assert(sizeof($record) == $size, \"size of $record\");"; done \
    <"$work/native_sizes"
} >"$work/check64.cpp"

failed=0
for target in x86_64 i686; do
  file=$work/check.cpp
  [ "$target" = x86_64 ] && file=$work/check64.cpp
  if ! "$target-w64-mingw32-g++" -std=c++17 -fsyntax-only -I"$source_dir/src" "$file" 2>"$work/errors_$target"; then
    failed=1
    echo "standin_headers: $target: these differ from the real headers:" >&2
    grep -E 'static assertion failed|was not declared|error:' "$work/errors_$target" | sed 's/^.*error: /  /' |
      sort -u | head -n 40 >&2
  fi
done
[ "$failed" -eq 0 ] || fail "the stand-in's constants or records differ from Windows'"
note "$count constants and ${#records[@]} record sizes agree with the real headers"
