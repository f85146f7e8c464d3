#!/usr/bin/env bash
# The Windows program on the real Win32, GDI and DirectX under Wine, 32-bit
# or 64-bit, in an Xvfb screen of 640 x 480 x 16 with a window manager
# (openbox), in a fresh Wine prefix that draws "Arial Black" with the native
# build's face (Lato Black). Three runs of the program:
#
# 1. It opens its full-screen display and draws what the native program
#    draws: each screenshot's best match among the native headless capture
#    of one whole pass of the text must overlap it at 0.98 or more (lit
#    pixels, intersection over union). Another program's window then takes
#    the foreground: the demo must stop presenting. The window manager gives
#    the demo its window back: the ring must return, moving, and match the
#    native frames again. Escape held ends it with exit code 0.
# 2. WM_CLOSE posted to its main window (what Task Manager's "End task"
#    does) ends it with exit code 0.
# 3. On a 1024 x 768 desktop, which cannot give 640 x 480, it says so in a
#    message box; once that is dismissed it ends with exit code 6, promptly
#    and without a crash.
#
# usage: demo.sh 32|64 <binary dir> <source dir>
#   <binary dir> holds the native program (build/release from ctest); the
#   Windows program is build/win32 or build/win64/ringscroller.exe under
#   <source dir>, or RINGSCROLLER_WINE_WIN32_EXE / RINGSCROLLER_WINE_WIN64_EXE.
#   RINGSCROLLER_WINE_KEEP=<folder> keeps the screenshots.
#
# Where Wine, Xvfb, a tool or the program is missing it fails. The 32-bit run
# skips (exit code 77) only when the kernel cannot run 32-bit code at all,
# which a tiny i386 program tells.
set -u

bits=${1:-}
case $bits in
  32) machine='PE32 executable .* Intel 80386' exe_override=${RINGSCROLLER_WINE_WIN32_EXE:-} ;;
  64) machine='PE32\+ executable .* x86-64' exe_override=${RINGSCROLLER_WINE_WIN64_EXE:-} ;;
  *) echo "usage: demo.sh 32|64 <binary dir> <source dir>" >&2; exit 2 ;;
esac
name=wine_demo_win$bits
note() { echo "$name: $*" >&2; }
fail() { echo "$name: FAIL: $*" >&2; exit 1; }
skip() { echo "$name: SKIP: $*" >&2; exit 77; }

[ -d "${2:-}" ] || fail "usage: demo.sh 32|64 <binary dir> <source dir>"
binary_dir=$(cd "$2" && pwd)
source_dir=$(cd "${3:-$(dirname "$0")/../..}" && pwd)
exe=${exe_override:-$source_dir/build/win$bits/ringscroller.exe}
bitmap=$source_dir/assets/glimrotan.bmp
message="The display could not be switched to 640 x 480 with 16-bit colour."
min_overlap=0.98
lit_min=2000

work=$(mktemp -d "${TMPDIR:-/tmp}/ringscroller-wine$bits.XXXXXX") || fail "no temporary folder"
xvfb_pids=() openbox_pid="" program_pid="" native_pid="" wineserver=""
cleanup() {
  if [ -n "$program_pid" ]; then kill "$program_pid" 2>/dev/null; fi
  if [ -n "$wineserver" ] && [ -d "$work/prefix" ]; then WINEPREFIX=$work/prefix timeout 20 "$wineserver" -k >/dev/null 2>&1; fi
  if [ -n "$program_pid" ]; then wait "$program_pid" 2>/dev/null; fi
  if [ -n "$native_pid" ]; then kill "$native_pid" 2>/dev/null; wait "$native_pid" 2>/dev/null; fi
  if [ -n "$openbox_pid" ]; then kill "$openbox_pid" 2>/dev/null; wait "$openbox_pid" 2>/dev/null; fi
  for pid in "${xvfb_pids[@]}"; do kill "$pid" 2>/dev/null; wait "$pid" 2>/dev/null; done
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 1' INT TERM HUP

# --- The program as built -------------------------------------------------------

# Checked whether or not it can run here: a self-contained GUI program of the
# right machine that links to the system's own DLLs alone, the DirectX ones
# being loaded by name at run time.
[ -f "$exe" ] || fail "$exe is missing; build it first (cmake --preset win$bits && cmake --build --preset win$bits)"
file "$exe" 2>/dev/null | grep -Eq "$machine" || fail "$exe is not a $bits-bit Windows program: $(file "$exe" 2>&1)"
command -v x86_64-w64-mingw32-objdump >/dev/null || fail "x86_64-w64-mingw32-objdump is not installed (scripts/setup)"
headers=$(x86_64-w64-mingw32-objdump -p "$exe") || fail "objdump cannot read $exe"
grep -Eq '^Subsystem[[:space:]]+0+2[[:space:]]' <<<"$headers" || fail "$exe is not a GUI program"
imports=$(awk '/DLL Name:/ {print toupper($3)}' <<<"$headers" | sort | tr '\n' ' ')
[ "$imports" = "GDI32.DLL KERNEL32.DLL MSVCRT.DLL USER32.DLL " ] ||
  fail "$exe imports $imports; only GDI32, KERNEL32, msvcrt and USER32 are wanted"

# --- Can this machine run the program at all? ---------------------------------

# Debian's Wine needs the i386 architecture, wine32:i386 and i386 Mesa for a
# 32-bit program; none of it helps where the kernel itself refuses 32-bit
# code (a kernel built or booted without IA-32 emulation). Only that is a
# reason to skip, and only the kernel's own answer to an i386 program tells.
if [ "$bits" = 32 ]; then
  for tool in as ld /usr/bin/python3; do
    command -v "$tool" >/dev/null || fail "$tool is not installed (scripts/setup installs it)"
  done
  as --32 -o "$work/probe32.o" "$source_dir/tests/wine/probe32.s" && ld -m elf_i386 -o "$work/probe32" "$work/probe32.o" ||
    fail "cannot build the i386 probe with binutils"
  /usr/bin/python3 - "$work/probe32" <<'EOF'
import errno, subprocess, sys
try:
    code = subprocess.run([sys.argv[1]]).returncode
except OSError as error:
    sys.exit(77 if error.errno == errno.ENOEXEC else f"the i386 probe could not start: {error}")
sys.exit(0 if code == 32 else f"the i386 probe ran but exited with {code}, not 32")
EOF
  case $? in
    0) ;;
    77) skip "this kernel cannot run 32-bit programs (an i386 program is refused with 'Exec format error'), so no 32-bit Wine can run here" ;;
    *) fail "the 32-bit probe failed" ;;
  esac
fi

[ -f "$bitmap" ] || fail "$bitmap is missing"
[ -x "$binary_dir/ringscroller" ] || fail "no native program at $binary_dir/ringscroller"
for tool in Xvfb openbox xdotool import convert compare file timeout /usr/bin/python3 x86_64-w64-mingw32-gcc; do
  command -v "$tool" >/dev/null || fail "$tool is not installed (scripts/setup installs it)"
done

# Debian installs the loaders as /usr/lib/wine/wine (i386, from wine32:i386)
# and /usr/lib/wine/wine64; the `wine` wrapper picks one of them.
first_executable() {
  local candidate
  for candidate in "$@"; do
    if [ -n "$candidate" ] && [ -x "$candidate" ]; then echo "$candidate"; return 0; fi
  done
  return 1
}
wine64=$(first_executable /usr/lib/wine/wine64 "$(command -v wine64 2>/dev/null)") ||
  fail "no 64-bit Wine loader (install wine64: scripts/setup)"
wineserver=$(first_executable /usr/lib/wine/wineserver64 "$(command -v wineserver 2>/dev/null)") ||
  fail "no wineserver (install wine64: scripts/setup)"
if [ "$bits" = 32 ]; then
  loader=$(first_executable /usr/lib/wine/wine) || fail "no 32-bit Wine loader (install wine32:i386: scripts/setup)"
else
  loader=$wine64
fi

# One 64-bit prefix runs both kinds of program (32-bit ones through WoW64).
export WINEPREFIX=$work/prefix WINEARCH=win64 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
export WINESERVER=$wineserver WINELOADER=$wine64

# Every wait below is bounded, and all of them together by this deadline,
# which leaves ctest's own limit (600 s) room to spare.
started=$SECONDS
deadline=$((SECONDS + 480))
remaining() { local left=$((deadline - SECONDS)); [ "$left" -gt 1 ] && echo "$left" || echo 1; }
in_time() { [ "$SECONDS" -lt "$deadline" ]; }
phase_started=$SECONDS
phase() { note "$1 after $((SECONDS - phase_started)) s"; phase_started=$SECONDS; }

# --- Displays, the native frames and the prefix -------------------------------

# Xvfb chooses a free display itself and writes its number to the given fd.
# 16 bits deep so that the program's 640 x 480 x 16 mode is the screen's own.
start_xvfb() {
  local size=$1 number_file=$work/display-$1
  Xvfb -displayfd 3 -screen 0 "${size}x16" -nolisten tcp -noreset 3>"$number_file" >>"$work/xvfb.log" 2>&1 &
  xvfb_pids+=("$!")
  for _ in $(seq 1 100); do
    [ -s "$number_file" ] && break
    kill -0 "$!" 2>/dev/null || break
    sleep 0.1
  done
  [ -s "$number_file" ] || fail "Xvfb did not start: $(cat "$work/xvfb.log")"
  export DISPLAY=:$(head -n1 "$number_file")
}
start_xvfb 640x480
openbox --sm-disable >"$work/openbox.log" 2>&1 &
openbox_pid=$!

# The native frames of one whole pass of the text (the scroll repeats after
# it, so any moment of the Wine run shows one of them), made while Wine
# starts.
mkdir -p "$work/native"
cp "$bitmap" "$work/native/"
(cd "$work/native" && exec env -u DISPLAY RINGSCROLLER_DISPLAY=headless RINGSCROLLER_ESCAPE_AFTER=2400 \
  RINGSCROLLER_CAPTURE="$work/native/frames" timeout 300 "$binary_dir/ringscroller") >"$work/native.log" 2>&1 &
native_pid=$!

x86_64-w64-mingw32-gcc -O2 -Wall -o "$work/window_helper.exe" "$source_dir/tests/wine/window_helper.c" -lgdi32 \
  >"$work/helper.log" 2>&1 || fail "cannot build the window helper: $(cat "$work/helper.log")"
# Its lines end in CR LF, as a Windows program's do.
helper() {
  timeout 60 "$wine64" "$work/window_helper.exe" "$@" 2>>"$work/helper.log" | tr -d '\r'
  return "${PIPESTATUS[0]}"
}

# A fresh prefix each run, so nothing from an earlier run or the user's own
# Wine set-up can change the outcome.
timeout 120 "$wine64" wineboot -i >"$work/wineboot.log" 2>&1
status=$?
[ "$status" -eq 0 ] || fail "wineboot -i failed with $status: $(tail -n5 "$work/wineboot.log")"
timeout 30 "$wine64" reg add 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\FontSubstitutes' \
  /v "Arial Black" /t REG_SZ /d "Lato Black" /f >>"$work/wineboot.log" 2>&1 || fail "cannot set the font substitute"
timeout "$(remaining)" "$wineserver" -w
# wineboot fills the prefix's 32-bit half by running 32-bit Wine.
if [ "$bits" = 32 ] && [ ! -f "$WINEPREFIX/drive_c/windows/syswow64/kernel32.dll" ]; then
  fail "the prefix has no 32-bit system folder: 32-bit Wine did not run (wine32:i386): $(tail -n5 "$work/wineboot.log")"
fi
phase "prefix ready"

# --- Running the program -------------------------------------------------------

# The program reads glimrotan.bmp from its current folder.
mkdir -p "$work/run"
cp "$exe" "$work/run/ringscroller.exe"
cp "$bitmap" "$work/run/glimrotan.bmp"
runs=0
start_program() {
  runs=$((runs + 1))
  (cd "$work/run" && WINELOADER=$loader exec timeout "$(remaining)" "$loader" ringscroller.exe) \
    >"$work/program$runs.log" 2>&1 &
  program_pid=$!
}
running() { [ -n "$program_pid" ] && kill -0 "$program_pid" 2>/dev/null; }
# Waits up to $1 seconds for the program to end; its exit code lands in
# `status`. Fails when it is still running then.
expect_end() {
  local tenths=$(($1 * 10))
  while running && [ "$tenths" -gt 0 ]; do sleep 0.1; tenths=$((tenths - 1)); done
  running && fail "the program was still running $1 s after $2"
  wait "$program_pid"
  status=$?
  program_pid=""
}
program_log() { grep -v '^ALSA lib' "$work/program$runs.log" | tail -n5; }

# Wine names the X window's class after the .exe; the main window has the
# title the program gives it (" ").
find_window() { xdotool search --onlyvisible --classname '^ringscroller\.exe$' 2>/dev/null | tail -n1; }
find_main_window() {
  local window
  for window in $(xdotool search --classname '^ringscroller\.exe$' 2>/dev/null); do
    [ "$(xdotool getwindowname "$window" 2>/dev/null)" = " " ] && echo "$window"
  done | tail -n1
}
wait_for_window() {
  local window=""
  while in_time; do
    window=$(find_window)
    [ -n "$window" ] && break
    running || break
    sleep 0.5
  done
  if [ -z "$window" ]; then
    running && fail "no window appeared in time"
    expect_end 1 "it vanished"
    fail "the program ended (exit code $status) without showing its window: $(program_log)"
  fi
}

shot_count=0
# Writes a screenshot of the whole screen to the file named in `shot` and
# its count of lit pixels to `lit`.
take_shot() {
  shot_count=$((shot_count + 1))
  shot=$work/shot$shot_count-$1.png
  lit=0
  timeout 10 import -display "$DISPLAY" -window root "PNG24:$shot" 2>>"$work/import.log" || return 1
  lit=$(convert "$shot" -colorspace Gray -threshold 10% -format '%[fx:int(mean*w*h)]' info:)
}
same_picture() { [ "$(compare -metric AE "$1" "$2" null: 2>&1)" = 0 ]; }

# Takes shots until $2 of them show the ring, each different from the one
# before it (and from $3, when given): the ring must be drawn and moving,
# not a picture left on the screen. They go into `ring_shots`.
ring_shots=()
wait_for_ring() {
  local label=$1 wanted=$2 stale=${3:-} seen=0 previous="" limit=$((SECONDS + 40))
  while [ "$seen" -lt "$wanted" ]; do
    running || fail "the program ended before the ring was seen ($label): $(program_log)"
    [ "$SECONDS" -lt "$limit" ] && in_time || break
    if take_shot "$label" && [ "$lit" -ge "$lit_min" ]; then
      if { [ -z "$previous" ] || ! same_picture "$previous" "$shot"; } &&
         { [ -z "$stale" ] || ! same_picture "$stale" "$shot"; }; then
        ring_shots+=("$shot")
        seen=$((seen + 1))
        note "$label: $lit lit pixels"
      fi
      previous=$shot
    fi
    sleep 0.5
  done
  [ "$seen" -ge "$wanted" ] && return 0
  [ "$lit" -ge "$lit_min" ] && fail "$label: the ring stood still (the program presented nothing new)"
  [ "$stale" ] && fail "$label: the ring did not come back"
  fail "$label: the ring did not show (Direct3D under Wine needs OpenGL in Xvfb: Mesa's libgl1-mesa-dri$([ "$bits" = 32 ] && echo ' and its :i386 build'))"
}

# DirectInput reads the key's state once a frame, so hold it down until the
# program has ended (or a few seconds have passed), not just a tap.
hold_escape() {
  local window
  for _ in 1 2 3 4 5; do
    running || return 0
    window=$(find_window)
    [ -n "$window" ] && timeout 5 xdotool windowfocus --sync "$window" >/dev/null 2>&1
    timeout 5 xdotool keydown Escape
    for _ in $(seq 1 12); do running || break; sleep 0.3; done
    timeout 5 xdotool keyup Escape
    running || return 0
    sleep 0.5
  done
}

# 1. The ring, focus away and back, Escape.
start_program
wait_for_window
phase "window shown"
wait_for_ring "first run" 3

# Another program's window takes the foreground for a few seconds; the demo
# must then present nothing, so the screen stands still.
helper away 5000 >"$work/away.log" &
helper_pid=$!
for _ in $(seq 1 300); do
  grep -q '^taken:' "$work/away.log" && break
  kill -0 "$helper_pid" 2>/dev/null || break
  sleep 0.1
done
# A frame already on its way may still land.
sleep 1
take_shot away || fail "no screenshot while away"
away_shot=$shot
sleep 1
take_shot away || fail "no screenshot while away"
wait "$helper_pid"
helper_status=$?
[ "$helper_status" -eq 0 ] || fail "the helper could not take the foreground ($helper_status): $(cat "$work/away.log")"
grep -q '^away: foreground=other' "$work/away.log" ||
  fail "the demo took the foreground back while another window held it: $(cat "$work/away.log")"
same_picture "$away_shot" "$shot" || fail "the demo went on presenting while another window had the foreground"
running || fail "the program ended when it lost the foreground: $(program_log)"
note "$(grep "^away:" "$work/away.log")"

# The window manager gives the demo its window back, as a click on it in a
# task bar would: the display is restored and the ring must come back.
main_window=$(find_main_window)
[ -n "$main_window" ] || fail "the main window is gone after losing the foreground"
timeout 10 xdotool windowactivate "$main_window" 2>>"$work/xdotool.log"
wait_for_ring "back" 2 "$away_shot"
phase "focus away and back"

hold_escape
running && fail "the program did not end on Escape"
expect_end 1 "Escape"
[ "$status" -eq 0 ] || fail "the program ended with exit code $status on Escape, not 0: $(program_log)"
note "ended with exit code 0 on Escape"

# 2. WM_CLOSE, once the demo is in its frame loop.
start_program
wait_for_window
wait_for_ring "before WM_CLOSE" 1
helper close >"$work/close.log" || fail "the helper could not post WM_CLOSE: $(cat "$work/close.log")"
expect_end 15 "WM_CLOSE was posted to its main window"
[ "$status" -eq 0 ] || fail "the program ended with exit code $status on WM_CLOSE, not 0: $(program_log)"
phase "ended with exit code 0 on WM_CLOSE"

# 3. A desktop that cannot give 640 x 480. Wine's desktop belongs to the
# display its first program ran on, so the prefix's processes end first.
timeout 20 "$wineserver" -k >/dev/null 2>&1
timeout 20 "$wineserver" -w
start_xvfb 1024x768
start_program
helper message ringscroller >"$work/message.log"
helper_status=$?
if [ "$helper_status" -ne 0 ]; then
  if ! running; then
    expect_end 1 "it ended"
    fail "the program ended with exit code $status and no message on a 1024 x 768 desktop: $(program_log)"
  fi
  fail "no message box on a 1024 x 768 desktop: $(cat "$work/message.log")"
fi
grep -qxF "text: $message" "$work/message.log" || fail "the message box does not say \"$message\": $(cat "$work/message.log")"
running || fail "the program ended before its message box was dismissed"
box=$(xdotool search --onlyvisible --name '^ringscroller$' 2>/dev/null | tail -n1)
[ -n "$box" ] || fail "the message box has no visible X window"
timeout 5 xdotool windowfocus --sync "$box" >/dev/null 2>&1
timeout 5 xdotool key --window "$box" Return
expect_end 10 "its message box was dismissed"
crash=$(xdotool search --name 'Program Error' 2>/dev/null | head -n1)
[ -z "$crash" ] || fail "Wine's crash dialog showed on the 1024 x 768 desktop"
[ "$status" -eq 6 ] || fail "the program ended with exit code $status on a 1024 x 768 desktop, not 6: $(program_log)"
phase "said it cannot switch a 1024 x 768 desktop and ended with exit code 6"

# --- The pictures against the native frames ------------------------------------

if [ -n "${RINGSCROLLER_WINE_KEEP:-}" ]; then
  mkdir -p "$RINGSCROLLER_WINE_KEEP" && cp "$work"/shot*.png "$RINGSCROLLER_WINE_KEEP/"
fi
wait "$native_pid"
status=$?
native_pid=""
[ "$status" -eq 0 ] || fail "the native program did not make its frames (exit code $status): $(tail -n5 "$work/native.log")"
/usr/bin/python3 "$source_dir/tests/lit_overlap.py" --min "$min_overlap" "${ring_shots[@]}" --against "$work/native/frames" \
  >"$work/overlap" 2>&1
overlap=$?
while read -r line; do note "overlap with the native frames: $line"; done <"$work/overlap"
[ "$overlap" -eq 0 ] || fail "a Wine screenshot differs from every native frame (needs $min_overlap)"
phase "compared with the native frames"
note "passed in $((SECONDS - started)) s"
