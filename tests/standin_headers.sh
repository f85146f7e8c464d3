#!/usr/bin/env bash
# The stand-in platform's constants must be the real ones. The runtime is written once against
# the Win32/DirectX names; if the stand-in gave one a different value (a blend factor, a scan
# code, a result code), the native build and its tests would agree with each other and still
# be wrong on Windows. So every upper-case constant the runtime uses is evaluated with our
# headers and checked at compile time against the real MinGW-w64 headers for both Windows
# targets, and the sizes of the records the runtime fills against the 64-bit ones (the same
# data model).
set -u
name=standin_headers
source "$(dirname "$0")/helpers.bash"
cxx=${CXX:-g++}
need "$cxx" x86_64-w64-mingw32-g++ i686-w64-mingw32-g++
records="DDSURFACEDESC2 DDPIXELFORMAT DDSCAPS2 DDBLTFX DDCOLORKEY D3DTLVERTEX WNDCLASSEXA MSG DSBUFFERDESC RECT
  PAINTSTRUCT GUID"

# Candidates: every NAME_LIKE_THIS in the runtime; the native compile below weeds out the types
# and function-like macros. The C library's limits belong to the target, not to the stand-in,
# and differ with the pointer size.
grep -rohE --include='*.cpp' --include='*.h' '\b[A-Z][A-Z0-9]*_[A-Z0-9_]+\b' "$src"/src/{core,demo,screen,sprites,drawing,input,sound} |
  sort -u | grep -vE '^(U?INT(8|16|32|64|PTR|MAX)?_(MAX|MIN)|SIZE_MAX|PTRDIFF_(MAX|MIN)|FLT_.*|DBL_.*)$' >"$work/names"

# The generated files: three lines of head, then one line a name.
values() {
  printf '#include "platform/api.h"\n#include <cstdio>\nint main() {\n'
  sed 's/.*/  std::printf("%s %lld\\n", "&", static_cast<long long>(&));/' "$1"
  echo '  return 0; }'
}
checks() {
  printf '#include "platform/api.h"\n#define SAME(name, value) static_assert(static_cast<long long>(name) == value##LL, #name)\n\n'
  sed 's/^\([^ ]*\) \(.*\)$/SAME(\1, \2);/' "$1"
}
# prune FILE NAMES GENERATOR: drops from NAMES the names whose lines the native compiler
# rejects in the file GENERATOR makes of them, until it compiles.
prune() {
  for _ in 1 2 3 4 5 6; do
    "$3" "$2" >"$1"
    "$cxx" -std=c++17 -fsyntax-only -I"$src/src" "$1" 2>"$work/errors" && return 0
    grep -oE "^$1:[0-9]+:" "$work/errors" | cut -d: -f2 | sort -un | awk '$1 >= 4 {print $1 - 3}' >"$work/bad"
    [ -s "$work/bad" ] || fail "the native check does not compile: $(head -n5 "$work/errors")"
    awk 'NR == FNR {bad[$1]; next} !(FNR in bad)' "$work/bad" "$2" >"$2.next" && mv "$2.next" "$2"
  done
  fail "could not settle the list of constants"
}

prune "$work/values.cpp" "$work/names" values
# The records are not pruned: one missing from the stand-in is a fault.
printf 'sizeof(%s)\n' $records >>"$work/names"
values "$work/names" >"$work/values.cpp"
"$cxx" -std=c++17 -I"$src/src" "$work/values.cpp" -o "$work/values" 2>"$work/errors" ||
  fail "a record the runtime uses is missing from the stand-in: $(grep error "$work/errors" | head -n5)"
"$work/values" >"$work/all" || fail "the native value printer failed"
# Only compile-time constants can be compared this way (not, say, a handle).
grep -v '^sizeof' "$work/all" >"$work/constants"
prune "$work/check.cpp" "$work/constants" checks
count=$(wc -l <"$work/constants")
[ "$count" -ge 40 ] || fail "only $count constants found in the runtime; the name scan is broken"
{ cat "$work/check.cpp"; grep '^sizeof' "$work/all" | checks /dev/stdin | tail -n +4; } >"$work/check64.cpp"

for target in x86_64:check64 i686:check; do
  "${target%:*}-w64-mingw32-g++" -std=c++17 -fsyntax-only -I"$src/src" "$work/${target#*:}.cpp" 2>"$work/errors" && continue
  echo "$name: ${target%:*}: these differ from the real headers:" >&2
  grep -E 'static assertion failed|was not declared|error:' "$work/errors" | sed 's/^.*error: /  /' | sort -u | head -n 40 >&2
  failed=1
done
[ -z "${failed:-}" ] || fail "the stand-in's constants or records differ from Windows'"
note "$count constants and $(wc -w <<<"$records") record sizes agree with the real headers"
