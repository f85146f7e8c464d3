# What the Xvfb script tests share: a private X server, the program in it with
# every frame captured, screenshots that must show the program's own frames,
# and ending everything they started. Sourced by tests/xvfb_*.sh (not a test
# itself). The caller sets `name`, `bin` and `src` first.

fail() { echo "$name: FAIL: $*" >&2; exit 1; }

# xdotool, bounded: a --sync that never comes true must not hang the test.
xdo() { timeout 10 xdotool "$@"; }

need_tools() {
  for tool in "$@"; do
    command -v "$tool" >/dev/null || fail "$tool is not installed (run scripts/setup)"
  done
}

# A screenshot scaled back to 640 x 480 measured 0.988 to 1.0 against the frame
# it shows (scaling by 1.5 and back moves the sprites' faint edges); a blank,
# clipped or stale screen scores far lower.
min_overlap=0.97

work="$(mktemp -d /tmp/ringscroller-xvfb.XXXXXX)"
started=()   # every process started here, ended at exit
demo_pid=""
cleanup() {
  local pid
  [ -n "$demo_pid" ] && kill -KILL "$demo_pid" 2>/dev/null
  for pid in "${started[@]}"; do kill "$pid" 2>/dev/null; done
  for pid in "${started[@]}"; do wait "$pid" 2>/dev/null; done
  rm -rf "$work"
}
trap cleanup EXIT

# Under the sanitizer build, invalid accesses still fail these runs, but leaks
# are judged by the headless run (e2e_headless): here the X11 and D-Bus
# modules SDL loads and unloads again leave blocks no stack can name.
export LSAN_OPTIONS="detect_leaks=0${LSAN_OPTIONS:+:$LSAN_OPTIONS}"
unset WAYLAND_DISPLAY SDL_VIDEODRIVER

# start_xvfb WxH: an X server on a free display (Xvfb picks it and writes its
# number once it accepts connections); exports DISPLAY. It must not reset
# when its last client goes: the next program could find it gone.
start_xvfb() {
  Xvfb -displayfd 3 -screen 0 "${1}x24" -nolisten tcp -noreset 3>"$work/display" >"$work/xvfb.log" 2>&1 &
  local pid=$!
  started+=("$pid")
  for _ in $(seq 100); do
    [ -s "$work/display" ] && break
    kill -0 "$pid" 2>/dev/null || fail "Xvfb ended: $(cat "$work/xvfb.log")"
    sleep 0.1
  done
  [ -s "$work/display" ] || fail "Xvfb did not report a display"
  export DISPLAY=":$(head -n1 "$work/display")"
}

# start_demo MODE [VAR=value...]: the program in fullscreen or window mode,
# every frame captured into $work/frames; sets demo_pid and window, once the
# window is on the screen at its final size (a window manager may place and
# size it after it first shows).
start_demo() {
  local mode=$1 geometry="" previous=""
  shift
  rm -rf "$work/frames"
  (cd "$work" && exec env RINGSCROLLER_DISPLAY="$mode" RINGSCROLLER_CAPTURE="$work/frames" SDL_AUDIODRIVER=dummy "$@" \
    "$bin/ringscroller" >"$work/stdout" 2>"$work/stderr") &
  demo_pid=$!
  window=""
  for _ in $(seq 100); do
    window="$(xdo search --onlyvisible --pid "$demo_pid" 2>/dev/null | head -1)"
    [ -n "$window" ] && break
    still_running
    sleep 0.2
  done
  [ -n "$window" ] || fail "no $mode window appeared in 20 s: $(cat "$work/stderr")"
  for _ in $(seq 50); do
    window="$(xdo search --onlyvisible --pid "$demo_pid" 2>/dev/null | head -1)"
    [ -n "$window" ] || { sleep 0.2; continue; }
    geometry=$(timeout 10 xwininfo -id "$window" 2>/dev/null | awk '/Absolute upper-left X/ {x=$NF} /Absolute upper-left Y/ {y=$NF}
      /Width:/ {w=$NF} /Height:/ {h=$NF} END {print w "x" h "+" x "+" y}')
    [ -n "$window" ] && [ "$window $geometry" = "$previous" ] && [ "$(frames_now)" -gt 0 ] && return 0
    previous="$window $geometry"
    sleep 0.2
  done
  fail "the $mode window did not settle in 10 s (last at $geometry)"
}

frames_now() { find "$work/frames" -name 'frame-*.png' 2>/dev/null | wc -l; }

still_running() { kill -0 "$demo_pid" 2>/dev/null || fail "the program ended before Escape: $(tail -3 "$work/stderr")"; }

# The window's place on the screen, as W x H + X + Y.
window_geometry() {
  [ -n "$window" ] && timeout 10 xwininfo -id "$window" >"$work/wininfo" 2>&1 || fail "xwininfo cannot see window $window"
  awk '/Absolute upper-left X/ {x=$NF} /Absolute upper-left Y/ {y=$NF}
       /Width:/ {w=$NF} /Height:/ {h=$NF} END {print w "x" h "+" x "+" y}' "$work/wininfo"
}

# wait_lit: screenshots until the ring lights the window (the text reaches
# the ring after two leading spaces, 52 frames), bounded. Only the window
# counts: a window manager's title bar is lit too.
wait_lit() {
  local lit=0 geometry
  for _ in $(seq 60); do
    still_running
    # Asked each time: a window being restored may still be on its way.
    geometry=$(window_geometry)
    timeout 10 import -window root "$work/shot1.png" 2>/dev/null || fail "cannot take a screenshot"
    lit=$(convert "$work/shot1.png" -crop "$geometry" +repage -colorspace Gray -threshold 1% -format '%[fx:int(mean*w*h)]' info:)
    [ "${lit:-0}" -gt 2000 ] && return 0
    sleep 0.5
  done
  fail "$1: no lit pixels on the screen after 30 s"
}

# shows_own_frames LABEL: the screen is lit, moving, and shows one of the
# frames the program presented lately (it captures a frame before showing it).
shows_own_frames() {
  local label=$1 geometry changed overlap
  wait_lit "$label"
  sleep 0.5
  # The frame on the screen was captured by the time the shot is taken; the
  # frames presented around it are the candidates.
  local first last i
  first=$(frames_now)
  timeout 10 import -window root "$work/shot2.png" 2>/dev/null || fail "cannot take a screenshot"
  last=$(frames_now)
  changed=$(compare -metric AE "$work/shot1.png" "$work/shot2.png" null: 2>&1 | cut -d' ' -f1)
  [ "${changed%.*}" -gt 100 ] 2>/dev/null || fail "$label: the picture did not move (changed pixels: $changed)"
  geometry=$(window_geometry)
  convert "$work/shot2.png" -crop "$geometry" +repage "$work/window.png" ||
    fail "$label: cannot cut the window at $geometry out of the screenshot"
  [ -n "${RINGSCROLLER_XVFB_SHOT:-}" ] && cp "$work/window.png" "$RINGSCROLLER_XVFB_SHOT-${label// /-}.png"
  : >"$work/recent"
  for ((i = first - 5; i <= last + 1; i++)); do
    [ -f "$work/frames/frame-$(printf %06d "$i").png" ] && echo "$work/frames/frame-$(printf %06d "$i").png" >>"$work/recent"
  done
  [ -s "$work/recent" ] || fail "$label: no frames captured around the screenshot"
  overlap=$(/usr/bin/python3 "$src/tests/lit_overlap.py" "$work/window.png" $(cat "$work/recent") --min "$min_overlap") ||
    fail "$label: the window does not show the program's frames: best overlap $overlap, need $min_overlap"
  echo "$name: $label: $geometry, ${changed%.*} pixels changed, overlap ${overlap%% *}"
}

# frames_while LABEL SECONDS: how many frames the program presented in that
# time (printed to standard output).
frames_while() {
  local before after
  before=$(frames_now)
  sleep "$2"
  after=$(frames_now)
  echo $((after - before))
}

# presents_nothing LABEL: an inactive program shows no frame.
presents_nothing() {
  sleep 0.3  # the focus change reaches the program at its next frame
  local n
  n=$(frames_while "$1" 1)
  [ "$n" -le 1 ] || fail "$1: $n frames presented in a second while inactive"
  still_running
}

# cpu_share SECONDS: the program's CPU time (user + system) over that time,
# as a share of one core, in percent.
cpu_share() {
  local tick before after
  tick=$(getconf CLK_TCK)
  before=$(awk '{print $14 + $15}' "/proc/$demo_pid/stat")
  sleep "$1"
  after=$(awk '{print $14 + $15}' "/proc/$demo_pid/stat")
  echo $(((after - before) * 100 / tick / $1))
}

# end_with_escape LABEL: Escape typed into the focused window (XTEST) ends
# the program with code 0.
end_with_escape() {
  local code=""
  xdo windowfocus --sync "$window" 2>/dev/null || xdo windowfocus "$window"
  xdo keydown Escape; sleep 0.3; xdo keyup Escape
  for _ in $(seq 100); do
    if ! kill -0 "$demo_pid" 2>/dev/null; then
      wait "$demo_pid"; code=$?; demo_pid=""; break
    fi
    sleep 0.1
  done
  [ -n "$code" ] || fail "$1: Escape did not end the program within 10 s"
  [ "$code" -eq 0 ] || fail "$1: exit code $code, expected 0: $(tail -3 "$work/stderr")"
}

# start_other_client: a second X client that can take the focus (xlogo);
# sets other.
start_other_client() {
  xlogo -geometry 160x160+40+40 >/dev/null 2>&1 &
  started+=("$!")
  other_pid=$!
  # xlogo names no process on its window; it is the only one of its class here.
  other="$(xdo search --sync --onlyvisible --class xlogo 2>/dev/null | head -1)"
  [ -n "$other" ] || fail "xlogo's window did not appear"
}

stop_other_client() {
  kill "$other_pid" 2>/dev/null
  wait "$other_pid" 2>/dev/null
}
