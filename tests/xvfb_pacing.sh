#!/usr/bin/env bash
# The display mode's 60 Hz on displays of other rates. A library preloaded into the native
# program stands in for the display: the renderer is made without vsync, each present waits for
# the next tick of a clock at the rate under test, and the display and renderer report that rate
# and vsync, as a real one would. Whatever the rate, the frames must come 60 a second. Fails
# (never skips) when a tool is missing. (A DISPLAY nobody answers: the host's unit test.)
set -uo pipefail
name=xvfb_pacing
source "$(dirname "$0")/helpers.bash"
need Xvfb cc pkg-config
need_program

cat >"$work/display.c" <<'EOF2'
#define _GNU_SOURCE
#include <SDL.h>
#include <dlfcn.h>
#include <math.h>
#include <stdio.h>
#include <stdlib.h>
#include <time.h>
#define REAL(name) ((__typeof__(&name))dlsym(RTLD_NEXT, #name))

static double Now(void) {
    struct timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return t.tv_sec + t.tv_nsec * 1e-9;
}
SDL_Renderer* SDL_CreateRenderer(SDL_Window* window, int index, Uint32 flags) {
    return REAL(SDL_CreateRenderer)(window, index, flags & ~SDL_RENDERER_PRESENTVSYNC);
}
int SDL_GetRendererInfo(SDL_Renderer* renderer, SDL_RendererInfo* info) {
    int result = REAL(SDL_GetRendererInfo)(renderer, info);
    if (result == 0) info->flags |= SDL_RENDERER_PRESENTVSYNC;
    return result;
}
int SDL_GetCurrentDisplayMode(int display, SDL_DisplayMode* mode) {
    int result = REAL(SDL_GetCurrentDisplayMode)(display, mode);
    if (result == 0) mode->refresh_rate = atoi(getenv("RS_TEST_HZ"));
    return result;
}
void SDL_RenderPresent(SDL_Renderer* renderer) {
    static FILE* log;
    if (!log) log = fopen(getenv("RS_TEST_PRESENTS"), "w");
    REAL(SDL_RenderPresent)(renderer);
    double hz = atof(getenv("RS_TEST_HZ")), refresh = (floor(Now() * hz) + 1) / hz;
    struct timespec until = {(time_t)refresh, (long)((refresh - floor(refresh)) * 1e9)};
    while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &until, NULL) != 0) {}
    fprintf(log, "%.6f\n", Now());
    fflush(log);
}
EOF2
# shellcheck disable=SC2046
cc -shared -fPIC -O2 -o "$work/display.so" "$work/display.c" $(pkg-config --cflags sdl2) -ldl -lm ||
  fail "cannot build the stand-in display"
start_xvfb 640x480x24
# The preloaded library must come before the sanitizer's runtime in an asan build.
export ASAN_OPTIONS="verify_asan_link_order=0${ASAN_OPTIONS:+:$ASAN_OPTIONS}"

# HZ, FRAMES (passes of the loop: one more than the intervals timed), the seconds they must take,
# and at most how many presents and missed refreshes (a present more than one and a half
# refreshes after the one before). 144 Hz: the clock paces the frames. 120 Hz: each frame shown
# for two refreshes (a loaded machine whose frames do not fit between two goes over to the
# clock: fewer presents, the same time). 60 Hz: one present a refresh, the display's own pace,
# without misses but a few a loaded machine may cost (a clock would beat against it).
for run in "144 601 9.5 10.5 9999 9999" "120 181 2.85 3.3 364 9999" "60 181 2.95 3.3 9999 5"; do
  read -r hz frames low high max_presents max_missed <<<"$run"
  (cd "$work" && RINGSCROLLER_DISPLAY=window RINGSCROLLER_ESCAPE_AFTER="$frames" RS_TEST_HZ="$hz" \
    RS_TEST_PRESENTS="$work/presents-$hz" LD_PRELOAD="$work/display.so" timeout 120 "$bin/ringscroller" 2>"$work/stderr") ||
    fail "$hz Hz: exit code $?: $(cat "$work/stderr")"
  read -r presents seconds missed < <(awk -v hz="$hz" 'NR == 1 {first = $1} NR > 1 && $1 - last > 1.5 / hz {gaps++}
    {last = $1} END {printf "%d %.3f %d\n", NR, last - first, gaps}' "$work/presents-$hz")
  note "$hz Hz: $presents presents in $seconds s, $missed refreshes missed"
  awk -v s="$seconds" -v low="$low" -v high="$high" 'BEGIN {exit !(s >= low && s <= high)}' &&
    [ "$presents" -le "$max_presents" ] && [ "$missed" -le "$max_missed" ] ||
    fail "$hz Hz: $((frames - 1)) frames took $seconds s with $presents presents and $missed refreshes missed;" \
      "expected $low to $high s, at most $max_presents presents and $max_missed missed"
done
