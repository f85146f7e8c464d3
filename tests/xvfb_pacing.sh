#!/usr/bin/env bash
# The display mode's 60 Hz on displays of other rates. A small library
# preloaded into the native program stands in for the display: the renderer
# is made without vsync, each present then waits for the next tick of a clock
# at the rate under test, and the display and renderer report that rate and
# vsync, as a real one would. The program, ended by RINGSCROLLER_ESCAPE_AFTER,
# must show its frames at 60 a second whatever the rate:
# - 144 Hz: 600 frames in 10 s, within 5 % (the clock paces them);
# - 120 Hz: each frame presented twice, 60 frames a second (not 120);
# - 60 Hz: one present a refresh, the display's own pace, without refreshes
#   missed (the clock would beat against it).
# Also: a DISPLAY nobody answers is said on standard error, and the program
# runs headless, frames captured, ending with code 0.
# Arguments: <binary dir> <source dir>. Fails (never skips) when a tool is
# missing: scripts/setup installs them.
set -uo pipefail

name=xvfb_pacing
bin="$(cd "$1" && pwd)"
src="$(cd "$2" && pwd)"
source "$src/tests/xvfb_helpers.bash"

need_tools Xvfb cc pkg-config /usr/bin/python3
[ -x "$bin/ringscroller" ] || fail "no program at $bin/ringscroller"
bmp="$bin/glimrotan.bmp"
[ -f "$bmp" ] || bmp="$src/assets/glimrotan.bmp"
[ -f "$bmp" ] || fail "no glimrotan.bmp"
cp "$bmp" "$work/glimrotan.bmp"

# A DISPLAY with no X server behind it (a stale ssh forwarding).
number=77
while [ -e "/tmp/.X11-unix/X$number" ] || [ -e "/tmp/.X$number-lock" ]; do number=$((number + 1)); done
(cd "$work" && DISPLAY=":$number" RINGSCROLLER_DISPLAY='' RINGSCROLLER_ESCAPE_AFTER=30 RINGSCROLLER_CAPTURE="$work/blind" \
  SDL_AUDIODRIVER=dummy timeout 60 "$bin/ringscroller" >"$work/stdout" 2>"$work/stderr")
code=$?
[ "$code" -eq 0 ] || fail "with DISPLAY=:$number: exit code $code: $(cat "$work/stderr")"
grep -q "ringscroller: cannot open display \":$number\"" "$work/stderr" ||
  fail "with DISPLAY=:$number: standard error does not say the display cannot be opened: $(cat "$work/stderr")"
captured=$(find "$work/blind" -name 'frame-*.png' 2>/dev/null | wc -l)
[ "$captured" -ge 25 ] || fail "with DISPLAY=:$number: $captured frames captured, expected about 30"
echo "$name: DISPLAY=:$number: said so, ran headless, $captured frames captured, exit code 0"

cat >"$work/display.c" <<'EOF'
#define _GNU_SOURCE
#include <SDL.h>
#include <dlfcn.h>
#include <math.h>
#include <stdio.h>
#include <stdlib.h>
#include <time.h>

static double Rate(void) {
    const char* rate = getenv("RS_TEST_HZ");
    return rate ? atof(rate) : 60.0;
}

static double Now(void) {
    struct timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return t.tv_sec + t.tv_nsec * 1e-9;
}

SDL_Renderer* SDL_CreateRenderer(SDL_Window* window, int index, Uint32 flags) {
    SDL_Renderer* (*real)(SDL_Window*, int, Uint32) = dlsym(RTLD_NEXT, "SDL_CreateRenderer");
    return real(window, index, flags & ~SDL_RENDERER_PRESENTVSYNC);
}

int SDL_GetRendererInfo(SDL_Renderer* renderer, SDL_RendererInfo* info) {
    int (*real)(SDL_Renderer*, SDL_RendererInfo*) = dlsym(RTLD_NEXT, "SDL_GetRendererInfo");
    int result = real(renderer, info);
    if (result == 0) info->flags |= SDL_RENDERER_PRESENTVSYNC;
    return result;
}

int SDL_GetCurrentDisplayMode(int display, SDL_DisplayMode* mode) {
    int (*real)(int, SDL_DisplayMode*) = dlsym(RTLD_NEXT, "SDL_GetCurrentDisplayMode");
    int result = real(display, mode);
    if (result == 0) mode->refresh_rate = (int)(Rate() + 0.5);
    return result;
}

void SDL_RenderPresent(SDL_Renderer* renderer) {
    static void (*real)(SDL_Renderer*);
    static FILE* log;
    if (!real) real = dlsym(RTLD_NEXT, "SDL_RenderPresent");
    if (!log && getenv("RS_TEST_PRESENTS")) log = fopen(getenv("RS_TEST_PRESENTS"), "w");
    real(renderer);
    double refresh = (floor(Now() * Rate()) + 1) / Rate();
    struct timespec until = {(time_t)refresh, (long)((refresh - floor(refresh)) * 1e9)};
    while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &until, NULL) != 0) {}
    if (log) {
        fprintf(log, "%.6f\n", Now());
        fflush(log);
    }
}
EOF
# shellcheck disable=SC2046
cc -shared -fPIC -O2 -o "$work/display.so" "$work/display.c" $(pkg-config --cflags sdl2) -ldl -lm ||
  fail "cannot build the stand-in display"

start_xvfb 640x480
# The preloaded library must come before the sanitizer's runtime in an asan build.
export ASAN_OPTIONS="verify_asan_link_order=0${ASAN_OPTIONS:+:$ASAN_OPTIONS}"

# run_at HZ FRAMES: the program in a window on a display of that rate until
# FRAMES passes of its loop; prints "presents seconds gaps" (gaps: presents
# more than one and a half refreshes after the one before).
run_at() {
  rm -f "$work/presents"
  (cd "$work" && RINGSCROLLER_DISPLAY=window RINGSCROLLER_ESCAPE_AFTER="$2" SDL_AUDIODRIVER=dummy \
    RS_TEST_HZ="$1" RS_TEST_PRESENTS="$work/presents" LD_PRELOAD="$work/display.so" \
    timeout 120 "$bin/ringscroller" >"$work/stdout" 2>"$work/stderr")
  local code=$?
  [ "$code" -eq 0 ] || fail "$1 Hz: exit code $code: $(cat "$work/stderr")"
  [ -s "$work/presents" ] || fail "$1 Hz: nothing was presented: $(cat "$work/stderr")"
  awk -v hz="$1" 'NR == 1 {first = $1} NR > 1 && $1 - last > 1.5 / hz {gaps++}
                  {last = $1} END {printf "%d %.3f %d\n", NR, last - first, gaps}' "$work/presents"
}

# 144 Hz: 601 frames, so 600 intervals of a sixtieth of a second.
read -r presents seconds gaps <<<"$(run_at 144 601)"
echo "$name: 144 Hz: $presents presents in $seconds s"
awk -v s="$seconds" 'BEGIN {exit !(s >= 9.5 && s <= 10.5)}' ||
  fail "144 Hz: 600 frames took $seconds s, expected 10 s within 5 % (vsync set the pace?)"

# 120 Hz: two presents a frame, 181 frames in 3 s. (A loaded machine whose
# frames do not fit between two refreshes goes over to the clock: fewer
# presents, the same time.)
read -r presents seconds gaps <<<"$(run_at 120 181)"
echo "$name: 120 Hz: $presents presents in $seconds s"
[ "$presents" -le 364 ] || fail "120 Hz: $presents presents for 181 frames, more than two a frame"
awk -v s="$seconds" 'BEGIN {exit !(s >= 2.85 && s <= 3.3)}' || fail "120 Hz: 180 frames took $seconds s, expected 3 s"

# 60 Hz: one present a refresh, none missed but a few a loaded machine may cost.
read -r presents seconds gaps <<<"$(run_at 60 181)"
echo "$name: 60 Hz: $presents presents in $seconds s, $gaps refreshes missed"
awk -v s="$seconds" 'BEGIN {exit !(s >= 2.95 && s <= 3.3)}' || fail "60 Hz: 180 frames took $seconds s, expected 3 s"
[ "${gaps:-0}" -le 5 ] || fail "60 Hz: $gaps of 180 refreshes showed no new frame"
