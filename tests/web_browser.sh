#!/usr/bin/env bash
# The web build (build/web) in headless Chromium (tests/web_browser.mjs: the
# served page, its tab hidden and shown, the page embedded in another one,
# ringscroller.html from file://, pages that cannot start, a browser without
# WebGL) against the native program's own frames: every canvas it keeps, at
# frames 100, 200 and 300 of each run, must light the same pixels as the
# native headless capture of that frame. Fails (never skips) where Chromium,
# Node's driver, emscripten or the web build is missing: scripts/setup and
# scripts/test provide them.
# Arguments: <binary dir> <source dir>. RINGSCROLLER_WEB_DIR: another web
# build; RINGSCROLLER_WEB_SHOT=<file>: keep the browser's screenshot.
set -uo pipefail

bin="$(cd "$1" && pwd)"
src="$(cd "$2" && pwd)"
web="${RINGSCROLLER_WEB_DIR:-$src/build/web}"
frames=(100 200 300)
# Measured 0.9985 to 1.0 (the browser's hinting differs from FreeType's in
# a few edge pixels of a few glyphs); a glyph off by one pixel scores lower.
min_overlap=0.99

fail() { echo "web_browser: FAIL: $*" >&2; exit 1; }

for tool in /usr/bin/chromium node emcc /usr/bin/python3; do
  command -v "$tool" >/dev/null || fail "$tool is not installed (run scripts/setup)"
done
[ -d "$src/node_modules/playwright-core" ] || fail "no playwright-core in $src/node_modules (run scripts/setup)"
for file in index.html ringscroller.html ringscroller.js ringscroller.wasm ringscroller.data; do
  [ -f "$web/$file" ] || fail "no $web/$file (cmake --preset web && cmake --build --preset web)"
done
[ -x "$bin/ringscroller" ] || fail "no program at $bin/ringscroller"

work="$(mktemp -d /tmp/ringscroller-web.XXXXXX)"
trap 'rm -rf "$work"' EXIT
cp "$src/assets/glimrotan.bmp" "$work/"

last=${frames[-1]}
(cd "$work" && env -u DISPLAY -u WAYLAND_DISPLAY RINGSCROLLER_DISPLAY=headless \
  RINGSCROLLER_ESCAPE_AFTER=$((last + 1)) RINGSCROLLER_CAPTURE="$work/native" timeout 120 "$bin/ringscroller") ||
  fail "the native capture failed"

timeout 300 node "$src/tests/web_browser.mjs" "$web" "$work" "${frames[@]}" || fail "the browser run failed"
[ -n "${RINGSCROLLER_WEB_SHOT:-}" ] && cp "$work/browser.png" "$RINGSCROLLER_WEB_SHOT"

# Each run's kept frames: the served page, its second play (frame 100), the
# one-file page and the browser without WebGL; every one must be there.
compared=0
for run in served again file nogl; do
  for n in "${frames[@]}"; do
    shot="$work/web-$run-$n.png"
    [ "$run" = again ] && [ "$n" != 100 ] && continue
    [ -f "$shot" ] || fail "no frame $n from the $run run"
    native=$(printf '%s/native/frame-%06d.png' "$work" "$n")
    overlap=$(/usr/bin/python3 "$src/tests/lit_overlap.py" "$shot" "$native" --min "$min_overlap") ||
      fail "$run run, frame $n: lit-pixel overlap with the native frame $overlap, need $min_overlap"
    echo "web_browser: $run frame $n overlap $overlap"
    compared=$((compared + 1))
  done
done
echo "web_browser: PASS ($compared frames matched)"
