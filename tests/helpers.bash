# What the script tests share: bounded waits, the native program and its capture, a private X
# server (and openbox), screenshots matched against the program's own frames, and ending
# everything they started. Sourced, not a test: the caller sets `name` and passes its
# arguments, <binary dir> <source dir>, on.

fail() { echo "$name: FAIL: $*" >&2; exit 1; }
note() { echo "$name: $*"; }
need() { local tool; for tool in "$@"; do command -v "$tool" >/dev/null || fail "$tool is not installed (run scripts/setup)"; done; }
# xdotool, bounded: a --sync that never comes true must not hang the test.
xdo() { timeout 10 xdotool "$@"; }
# wait_for SECONDS COMMAND...: runs COMMAND until it succeeds; false once the time is up.
wait_for() {
  local end=$((SECONDS + $1)); shift
  until "$@"; do [ "$SECONDS" -lt "$end" ] || return 1; sleep 0.1; done
}

bin=$(cd "${1:-}" 2>/dev/null && pwd) && src=$(cd "${2:-}" 2>/dev/null && pwd) ||
  fail "usage: $0 <binary dir> <source dir>"
work=$(mktemp -d "/tmp/ringscroller-$name.XXXXXX") || fail "no temporary folder"
started=() demo_pid="" code=""  # every process started here, ended at exit
cleanup() {
  local pid
  [ -n "$demo_pid" ] && { kill -KILL "$demo_pid"; wait "$demo_pid"; } 2>/dev/null
  declare -F before_cleanup >/dev/null && before_cleanup
  for pid in "${started[@]}"; do kill "$pid" 2>/dev/null; wait "$pid" 2>/dev/null; done
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 1' INT TERM HUP
unset WAYLAND_DISPLAY SDL_VIDEODRIVER

# The native program, and glimrotan.bmp in the work folder it runs in.
need_program() {
  [ -x "$bin/ringscroller" ] || fail "no program at $bin/ringscroller"
  cp "$src/assets/glimrotan.bmp" "$work/" || fail "no glimrotan.bmp"
}
# capture N FOLDER [VAR=value...]: the native program headless until its N-th frame, each one
# captured into FOLDER; its output in $work/stdout and $work/stderr.
capture() {
  (cd "$work" && env -u DISPLAY RINGSCROLLER_DISPLAY=headless RINGSCROLLER_ESCAPE_AFTER="$1" \
    RINGSCROLLER_CAPTURE="$2" "${@:3}" timeout 600 "$bin/ringscroller" >"$work/stdout" 2>"$work/stderr")
}
ended() {  # the program has ended; its exit code is in `code`
  [ -z "$demo_pid" ] && return 0
  kill -0 "$demo_pid" 2>/dev/null && return 1
  wait "$demo_pid"; code=$? demo_pid=""
}
still_running() { ! ended || fail "the program ended (exit code $code) before it was asked to: $(tail -3 "$work/stderr")"; }

# start_xvfb WxHxDEPTH: an X server on a display it picks itself (it writes the number once it
# accepts connections); exports DISPLAY. -noreset: its last client leaving must not reset it.
start_xvfb() {
  rm -f "$work/display"
  Xvfb -displayfd 3 -screen 0 "$1" -nolisten tcp -noreset 3>"$work/display" 2>>"$work/xvfb.log" &
  started+=("$!")
  wait_for 10 test -s "$work/display" || fail "Xvfb did not start: $(cat "$work/xvfb.log")"
  # Leaks are judged by the headless run: the X11 and D-Bus modules SDL loads and unloads leave
  # blocks no stack can name, which would fail these runs under the sanitizer build.
  export DISPLAY=":$(head -n1 "$work/display")" SDL_AUDIODRIVER=dummy LSAN_OPTIONS="detect_leaks=0${LSAN_OPTIONS:+:$LSAN_OPTIONS}"
}
start_openbox() {
  HOME=$work openbox --sm-disable >"$work/openbox.log" 2>&1 &
  started+=("$!")
  wait_for 10 eval 'xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q "window id"' ||
    fail "openbox did not start: $(cat "$work/openbox.log")"
}

# start_demo MODE [VAR=value...]: the program full screen or in a window, every frame captured
# into $work/frames; sets demo_pid, and window and geometry once the window shows and stays put
# (a window manager may place and size it after it first shows).
start_demo() {
  local mode=$1 previous=""; shift
  rm -rf "$work/frames"
  (cd "$work" && exec env RINGSCROLLER_DISPLAY="$mode" RINGSCROLLER_CAPTURE="$work/frames" "$@" \
    "$bin/ringscroller" >"$work/stdout" 2>"$work/stderr") &
  demo_pid=$!
  settled() {
    still_running
    window=$(xdo search --onlyvisible --pid "$demo_pid" 2>/dev/null | head -1)
    [ -n "$window" ] && [ "$(frames_now)" -gt 0 ] && geometry=$(window_geometry) || return 1
    [ "$window $geometry" = "$previous" ] || { previous="$window $geometry"; sleep 0.2; return 1; }
  }
  wait_for 30 settled || fail "no $mode window showed and stayed put in 30 s (last: $previous)"
}
# The window's place on the screen: WxH+X+Y.
window_geometry() {
  timeout 10 xwininfo -id "$window" 2>/dev/null | awk '/Absolute upper-left X/ {x=$NF} /Absolute upper-left Y/ {y=$NF}
    /Width:/ {w=$NF} /Height:/ {h=$NF} END {if (w) print w "x" h "+" x "+" y}'
}
frames_now() { find "$work/frames" -name 'frame-*.png' 2>/dev/null | wc -l; }
frames_while() { local before; before=$(frames_now); sleep "$1"; echo $(($(frames_now) - before)); }

# shot FILE [GEOMETRY]: the screen, or its part at GEOMETRY, into FILE; sets `lit`, its count
# of lit pixels.
shot() {
  lit=$(timeout 10 import -window root miff:- 2>/dev/null | convert - ${2:+-crop "$2" +repage} -write "PNG24:$1" \
    -colorspace Gray -threshold 10% -format '%[fx:int(mean*w*h)]' info:) || fail "cannot take a screenshot"
}
moved() { [ "$(compare -metric AE "$1" "$2" null: 2>&1 | cut -d' ' -f1 | cut -d. -f1)" -gt 100 ] 2>/dev/null; }
# matches LABEL MIN SHOT... [--against] REFERENCE...: each shot lights the same pixels as one of
# the native frames given (lit_overlap.py), an intersection over union of MIN or more.
matches() {
  local overlap
  overlap=$(/usr/bin/python3 "$src/tests/lit_overlap.py" "${@:2}") ||
    fail "$1: a picture differs from every frame of the program's (need $2): $overlap"
  note "$1: overlap $(cut -d' ' -f1,2 <<<"$overlap" | paste -sd' ')"
}

# shows_own_frames LABEL: the window is lit, moving, and shows one of the frames the program
# presented about then (it captures each frame before presenting it). A screenshot scaled back
# to 640 x 480 measured 0.988 to 1.0; a blank, clipped or stale one scores far lower.
shows_own_frames() {
  local first last i recent=()
  lit_window() { still_running; geometry=$(window_geometry); shot "$work/a.png" "$geometry"; [ "${lit:-0}" -gt 2000 ]; }
  wait_for 30 lit_window || fail "$1: the ring did not show in 30 s"
  sleep 0.5
  first=$(frames_now); shot "$work/b.png" "$geometry"; last=$(frames_now)
  moved "$work/a.png" "$work/b.png" || fail "$1: the picture did not move"
  for ((i = first - 5; i <= last + 1; i++)); do
    [ -f "$work/frames/frame-$(printf %06d "$i").png" ] && recent+=("$work/frames/frame-$(printf %06d "$i").png")
  done
  matches "$1 at $geometry" 0.97 "$work/b.png" "${recent[@]}"
}
# presents_nothing LABEL: an inactive program presents no frame (one on its way may still land).
presents_nothing() {
  sleep 0.3
  local n; n=$(frames_while 1)
  [ "$n" -le 1 ] || fail "$1: $n frames presented in a second while inactive"
  still_running
}
# focus_away HOW / focus_back HOW: another X client (xlogo) gets the focus by `xdotool HOW`
# (windowfocus, windowactivate); then the program gets it back and xlogo ends.
focus_away() {
  xlogo -geometry 160x160+40+40 >/dev/null 2>&1 &
  other_pid=$!; started+=("$other_pid")
  xdo "$1" --sync "$(xdo search --sync --onlyvisible --class xlogo 2>/dev/null | head -1)" || fail "cannot give xlogo the focus"
}
focus_back() {
  xdo "$1" --sync "$window" || fail "cannot give the program the focus back"
  kill "$other_pid"; wait "$other_pid" 2>/dev/null
}
# end_with_escape LABEL: Escape held in the program's window ends it with code 0. DirectInput
# reads the key's state once a frame: it stays down until the program has ended.
end_with_escape() {
  for _ in 1 2 3; do
    xdo windowfocus --sync "$window" >/dev/null 2>&1 || xdo windowfocus "$window" >/dev/null 2>&1
    xdo keydown Escape; wait_for 5 ended; xdo keyup Escape
    ended && break
  done
  ended || fail "$1: Escape did not end the program"
  [ "$code" -eq 0 ] || fail "$1: exit code $code on Escape, expected 0: $(tail -3 "$work/stderr")"
}
