#!/usr/bin/env bash
# The native program under a window manager (openbox), as on a desktop. Full screen: another
# window activated over it deactivates it (no frame presented) and activating it again brings
# the ring back. Minimised, full screen or in a window, it presents nothing and sleeps between
# the mode's ticks rather than spinning; restored, the ring comes back. Fails (never skips)
# when a tool is missing.
set -uo pipefail
name=xvfb_openbox
source "$(dirname "$0")/helpers.bash"
# While minimised the program only steps its unseen frames 60 times a second: measured 1 to 2 %
# of a core; spinning took 96 to 100 %.
max_cpu=15
need Xvfb openbox xprop xdotool xwininfo xlogo import convert compare getconf /usr/bin/python3
need_program
start_xvfb 1280x720x24
start_openbox
cpu_time() { awk '{print $14 + $15}' "/proc/$demo_pid/stat"; }

start_demo fullscreen
shows_own_frames fullscreen
focus_away windowactivate
presents_nothing "fullscreen, another window active"
focus_back windowactivate
shows_own_frames "fullscreen, active again"
for mode in fullscreen window; do
  [ "$mode" = window ] && start_demo window && shows_own_frames window
  xdo windowminimize --sync "$window" || fail "$mode: cannot minimise the window"
  presents_nothing "$mode, minimised"
  before=$(cpu_time)
  sleep 3
  cpu=$((($(cpu_time) - before) * 100 / $(getconf CLK_TCK) / 3))
  [ "$cpu" -lt "$max_cpu" ] || fail "$mode: $cpu % of a core while minimised, need under $max_cpu %"
  note "$mode, minimised: $cpu % of a core"
  xdo windowactivate --sync "$window" || fail "$mode: cannot restore the window"
  shows_own_frames "$mode, restored"
  end_with_escape "$mode"
done
