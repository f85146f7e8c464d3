#!/usr/bin/env bash
# The web build in headless Chromium (tests/web_browser.mjs says what each run checks) against
# the native program's own frames: every canvas it keeps, frames 100, 200 and 300 of each run,
# must light the same pixels as the native headless capture of that frame (the 2D canvas's own
# conversion is checked exactly there, against the WebGL run's frames). Fails (never skips) where
# Chromium, Node's driver or the web build is missing: scripts/setup and
# scripts/test provide them. RINGSCROLLER_WEB_DIR: another web build;
# RINGSCROLLER_WEB_SHOT=<file>: keep the browser's screenshot.
set -uo pipefail
name=web_browser
source "$(dirname "$0")/helpers.bash"
web=${RINGSCROLLER_WEB_DIR:-$src/build/web}
need /usr/bin/chromium node /usr/bin/python3
need_program
[ -d "$src/node_modules/playwright-core" ] || fail "no playwright-core in $src/node_modules (run scripts/setup)"
for file in index.html ringscroller.html ringscroller.js ringscroller.wasm ringscroller.data; do
  [ -f "$web/$file" ] || fail "no $web/$file (cmake --preset web && cmake --build --preset web)"
done

capture 301 "$work/native" || fail "the native capture failed: $(tail -5 "$work/stderr")"
timeout 300 node "$src/tests/web_browser.mjs" "$web" "$work" 100 200 300 || fail "the browser run failed"
[ -z "${RINGSCROLLER_WEB_SHOT:-}" ] || cp "$work/browser.png" "$RINGSCROLLER_WEB_SHOT"
# Measured 0.9985 to 1.0 (the browser hints a few edge pixels of a few glyphs unlike FreeType);
# a glyph off by one pixel scores lower.
for run in {served,file,webgl}-{100,200,300} again-100; do
  [ -f "$work/web-$run.png" ] || fail "no frame ${run#*-} from the ${run%-*} run"
  matches "$run" 0.99 "$work/web-$run.png" "$(printf '%s/native/frame-%06d.png' "$work" "${run#*-}")"
done
