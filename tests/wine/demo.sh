#!/usr/bin/env bash
# The Windows program on the real Win32, GDI and DirectX under Wine, 32-bit or 64-bit, in an
# Xvfb screen of 640 x 480 x 16 with a window manager (openbox), in a fresh Wine prefix that
# draws "Arial Black" with the native build's face (Lato Black). First the program as built, even
# where it cannot run: a self-contained GUI program of the right machine, importing the
# system's own DLLs alone (it loads the DirectX ones by name at run time). Then three runs:
# 1. It draws what the native program draws: each screenshot's best match among the native
#    headless capture of one whole pass of the text must overlap it at 0.98 or more (lit pixels,
#    intersection over union). Another program's window then takes the foreground: the demo
#    must stop presenting. The window manager gives the demo its window back: the ring must
#    return, moving, and match the native frames again. Escape held ends it with exit code 0.
# 2. WM_CLOSE posted to its main window (what Task Manager's "End task" does) ends it with 0.
# 3. On a 1024 x 768 desktop, which cannot give 640 x 480, it says so in a message box; once
#    that is dismissed it ends with exit code 6, promptly and without a crash.
# usage: demo.sh 32|64 <binary dir: the native program> <source dir>. The Windows program is
# build/win32 or build/win64/ringscroller.exe under <source dir>, or RINGSCROLLER_WINE_WIN32_EXE /
# RINGSCROLLER_WINE_WIN64_EXE; RINGSCROLLER_WINE_KEEP=<folder> keeps the screenshots. Where Wine,
# Xvfb, a tool or the program is missing it fails. The 32-bit run skips (exit code 77) only where
# the kernel cannot run 32-bit code at all, which a tiny i386 program tells.
set -uo pipefail
bits=${1:-}
case $bits in
  32) machine='PE32 executable .* Intel 80386' exe=${RINGSCROLLER_WINE_WIN32_EXE:-} loader=/usr/lib/wine/wine ;;
  64) machine='PE32\+ executable .* x86-64' exe=${RINGSCROLLER_WINE_WIN64_EXE:-} loader=/usr/lib/wine/wine64 ;;
  *) echo "usage: demo.sh 32|64 <binary dir> <source dir>" >&2; exit 2 ;;
esac
name=wine_demo_win$bits
shift
source "$(dirname "$0")/../helpers.bash"
exe=${exe:-$src/build/win$bits/ringscroller.exe}

need file x86_64-w64-mingw32-objdump
[ -f "$exe" ] || fail "$exe is missing; build it first (cmake --preset win$bits && cmake --build --preset win$bits)"
file "$exe" | grep -Eq "$machine" || fail "$exe is not a $bits-bit Windows program: $(file "$exe")"
headers=$(x86_64-w64-mingw32-objdump -p "$exe") || fail "objdump cannot read $exe"
grep -Eq '^Subsystem[[:space:]]+0+2[[:space:]]' <<<"$headers" || fail "$exe is not a GUI program"
imports=$(awk '/DLL Name:/ {print toupper($3)}' <<<"$headers" | sort | paste -sd' ')
[ "$imports" = "GDI32.DLL KERNEL32.DLL MSVCRT.DLL USER32.DLL" ] ||
  fail "$exe imports $imports; only GDI32, KERNEL32, msvcrt and USER32 are wanted"

# Debian's 32-bit Wine (wine32:i386 and i386 Mesa) cannot help where the kernel itself refuses
# 32-bit code (built or booted without IA-32 emulation): only that is a reason to skip, and only
# the kernel's answer to an i386 program tells.
if [ "$bits" = 32 ]; then
  need as ld
  as --32 -o "$work/probe32.o" "$src/tests/wine/probe32.s" && ld -m elf_i386 -o "$work/probe32" "$work/probe32.o" ||
    fail "cannot build the i386 probe with binutils"
  "$work/probe32" 2>"$work/probe.log"
  case $?:$(cat "$work/probe.log") in
    32:) ;;
    126:*'Exec format error'*) echo "$name: SKIP: this kernel cannot run 32-bit programs (an i386 program is" \
                                 "refused with 'Exec format error'), so no 32-bit Wine can run here" >&2; exit 77 ;;
    *) fail "the i386 probe did not exit with 32: $(cat "$work/probe.log")" ;;
  esac
fi

need Xvfb openbox xprop xdotool import convert compare x86_64-w64-mingw32-gcc /usr/bin/python3
need_program
wine64=/usr/lib/wine/wine64 wineserver=/usr/lib/wine/wineserver64
# scripts/setup installs wine64, and wine32:i386 for 32-bit programs.
need "$wine64" "$wineserver" "$loader"
# One 64-bit prefix runs both kinds of program, 32-bit ones through WoW64.
export WINEPREFIX=$work/prefix WINEARCH=win64 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d" \
  WINESERVER=$wineserver WINELOADER=$wine64
before_cleanup() { [ -d "$WINEPREFIX" ] && timeout 20 "$wineserver" -k >/dev/null 2>&1; }

# The native frames of one whole pass of the text (the scroll repeats after it, so any moment of
# the Wine run shows one of them), made while Wine starts.
capture 2400 "$work/native" &
native_pid=$!
# 16 bits deep, so that the program's 640 x 480 x 16 mode is the screen's own.
start_xvfb 640x480x16
start_openbox
x86_64-w64-mingw32-gcc -O2 -Wall -o "$work/window_helper.exe" "$src/tests/wine/window_helper.c" -lgdi32 \
  >"$work/helper.log" 2>&1 || fail "cannot build the window helper: $(cat "$work/helper.log")"
helper() { timeout 60 "$wine64" "$work/window_helper.exe" "$@" 2>>"$work/helper.log" | tr -d '\r'; }

# A fresh prefix each run: nothing from an earlier run or the user's own Wine can change the outcome.
timeout 120 "$wine64" wineboot -i >"$work/wineboot.log" 2>&1 || fail "wineboot -i failed with $?: $(tail -n5 "$work/wineboot.log")"
timeout 30 "$wine64" reg add 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\FontSubstitutes' \
  /v "Arial Black" /t REG_SZ /d "Lato Black" /f >>"$work/wineboot.log" 2>&1 || fail "cannot set the font substitute"
timeout 60 "$wineserver" -w
# wineboot fills the prefix's 32-bit half by running 32-bit Wine.
[ "$bits" = 64 ] || [ -f "$WINEPREFIX/drive_c/windows/syswow64/kernel32.dll" ] ||
  fail "the prefix has no 32-bit system folder: 32-bit Wine did not run (wine32:i386): $(tail -n5 "$work/wineboot.log")"
note "prefix ready after $SECONDS s"

mkdir "$work/run" && cp "$exe" "$work/run/ringscroller.exe" && cp "$work/glimrotan.bmp" "$work/run/" || fail "no run folder"
start_program() {
  (cd "$work/run" && WINELOADER=$loader exec timeout 300 "$loader" ringscroller.exe) >"$work/stderr" 2>&1 &
  demo_pid=$!
}
# Wine names the X window's class after the .exe; the main window has the title the program gives it, " ".
showing() { still_running; window=$(xdotool search --onlyvisible --classname '^ringscroller\.exe$' 2>/dev/null | tail -n1); [ -n "$window" ]; }

# ring LABEL N [STALE]: N screenshots show the ring, each moved from the one before it (and from
# STALE): drawn and moving, not a picture left on the screen. They go to `ring_shots`.
ring_shots=() shots=0
ring() {
  local label=$1 n=$2 stale=${3:-} seen=0 previous="" s
  ring_shot() {
    still_running
    s=$work/shot$((++shots)).png
    shot "$s"
    sleep 0.5
    [ "$lit" -ge 2000 ] || return 1
    { [ -z "$previous" ] || moved "$previous" "$s"; } && { [ -z "$stale" ] || moved "$stale" "$s"; } &&
      ring_shots+=("$s") && seen=$((seen + 1)) && note "$label: $lit lit pixels"
    previous=$s
    [ "$seen" -ge "$n" ]
  }
  wait_for 40 ring_shot || fail "$1: $seen of $2 screenshots showed the ring moving (Direct3D under Wine draws" \
    "with OpenGL: Mesa's libgl1-mesa-dri, and its :i386 build for 32-bit programs)"
}
# start LABEL N: the program started, its window shown, and N screenshots of its ring.
start() { start_program; wait_for 60 showing || fail "$1: no window appeared"; ring "$1" "$2"; }

# 1. The ring; another program's window takes the foreground for a few seconds, and the demo
# must present nothing, so the screen stands still.
start "first run" 3
helper away 5000 >"$work/away.log" &
started+=("$!")
wait_for 30 eval 'grep -q "^taken:" "$work/away.log" || ! kill -0 "${started[-1]}" 2>/dev/null'
sleep 1  # a frame already on its way may still land
shot "$work/away1.png"; sleep 1; shot "$work/away2.png"
wait "${started[-1]}" || fail "the helper could not take the foreground: $(cat "$work/away.log")"
grep -q '^away: foreground=other' "$work/away.log" ||
  fail "the demo took the foreground back while another window held it: $(cat "$work/away.log")"
[ "$(compare -metric AE "$work/away1.png" "$work/away2.png" null: 2>&1)" = 0 ] ||
  fail "the demo went on presenting while another window had the foreground"
still_running
# The window manager gives the demo its window back, as a click on it in a task bar would.
main=$(for w in $(xdotool search --classname '^ringscroller\.exe$' 2>/dev/null); do
  [ "$(xdotool getwindowname "$w" 2>/dev/null)" = " " ] && echo "$w"
done | tail -n1)
[ -n "$main" ] || fail "the main window is gone after losing the foreground"
xdo windowactivate "$main" 2>>"$work/xdotool.log"
ring "back" 2 "$work/away2.png"
showing; end_with_escape "first run"

# 2. WM_CLOSE, once the demo is in its frame loop.
start "before WM_CLOSE" 1
helper close >"$work/close.log" || fail "the helper could not post WM_CLOSE: $(cat "$work/close.log")"
wait_for 15 ended || fail "the program was still running 15 s after WM_CLOSE was posted to its main window"
[ "$code" -eq 0 ] || fail "exit code $code on WM_CLOSE, expected 0: $(tail -n5 "$work/stderr")"

# 3. A desktop that cannot give 640 x 480. Wine's desktop belongs to the display its first
# program ran on, so the prefix's processes end first.
timeout 20 "$wineserver" -k >/dev/null 2>&1
timeout 20 "$wineserver" -w
start_xvfb 1024x768x16
start_program
helper message ringscroller >"$work/message.log" || { still_running; fail "no message box on a 1024 x 768 desktop: $(cat "$work/message.log")"; }
grep -qxF "text: The display could not be switched to 640 x 480 with 16-bit colour." "$work/message.log" ||
  fail "the message box does not say the display could not be switched: $(cat "$work/message.log")"
still_running
box=$(xdotool search --onlyvisible --name '^ringscroller$' 2>/dev/null | tail -n1)
[ -n "$box" ] || fail "the message box has no visible X window"
xdo windowfocus --sync "$box" >/dev/null 2>&1
xdo key --window "$box" Return
wait_for 10 ended || fail "the program was still running 10 s after its message box was dismissed"
[ -z "$(xdotool search --name 'Program Error' 2>/dev/null)" ] || fail "Wine's crash dialog showed on the 1024 x 768 desktop"
[ "$code" -eq 6 ] || fail "exit code $code on a 1024 x 768 desktop, expected 6: $(tail -n5 "$work/stderr")"
note "Escape and WM_CLOSE ended it with 0, a 1024 x 768 desktop with its message and 6"

[ -z "${RINGSCROLLER_WINE_KEEP:-}" ] || { mkdir -p "$RINGSCROLLER_WINE_KEEP" && cp "$work"/shot*.png "$RINGSCROLLER_WINE_KEEP/"; }
wait "$native_pid" || fail "the native program did not make its frames"
matches "screenshots against the native frames" 0.98 "${ring_shots[@]}" --against "$work/native"
note "passed in $SECONDS s"
