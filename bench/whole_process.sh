#!/usr/bin/env bash
# The whole-process measure of bench/README.md: the program headless for 4000
# frames, timed from start to exit, then the plain scalar loop for 1500
# frames, back to back, for a number of rounds; prints each round and the
# median of the ratios. Each round waits until the machine has been quiet
# for two seconds (at most RINGSCROLLER_QUIET_WAIT seconds, default 1800),
# and says how much of the machine other programs took while it ran (from
# /proc/stat, less what the two runs used themselves): figures from a busy
# machine are not worth comparing.
# usage: bench/whole_process.sh [BUILD_FOLDER] [ROUNDS]
# The environment passes through: RINGSCROLLER_THREADS=1 measures one
# drawing thread.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "${1:-$here/../build/release}" && pwd)
rounds=${2:-5}
peers=${RINGSCROLLER_PEERS:-$here/../../shared/peers/peers.sh}
frames=4000
[ -x "$build/ringscroller" ] || { echo "no program in $build" >&2; exit 1; }
[ -x "$peers" ] || { echo "no peers script at $peers" >&2; exit 1; }
"$peers" naive 10 >/dev/null  # builds it outside the timed rounds

ticks=$(getconf CLK_TCK)
cores=$(nproc)
# Busy time of the whole machine so far, in seconds.
busy() { awk -v t="$ticks" '/^cpu / {print ($2 + $3 + $4 + $7 + $8 + $9) / t}' /proc/stat; }
# Runs a command; sets `took` (seconds, wall) and `used` (seconds of CPU).
TIMEFORMAT='%R %U %S'
measure() {
    local times
    times=$({ time "$@" >/dev/null 2>&1; } 2>&1 | tail -1)
    took=$(echo "$times" | cut -d' ' -f1)
    used=$(echo "$times" | awk '{print $2 + $3}')
}

scratch=$(mktemp)
trap 'rm -f "$scratch"' EXIT
# Waits until less than 5 % of the machine was busy over two seconds.
quiet() {
    local deadline=$((SECONDS + ${RINGSCROLLER_QUIET_WAIT:-1800})) a b
    while ((SECONDS < deadline)); do
        a=$(busy)
        sleep 2
        b=$(busy)
        if (($(echo "($b - $a) < 0.05 * 2 * $cores" | bc -l))); then return; fi
        sleep 3
    done
    echo "the machine stayed busy; measuring anyway" >&2
}

ratios=()
for ((round = 1; round <= rounds; ++round)); do
    quiet
    before=$(busy)
    # From its folder: the program reads glimrotan.bmp from the current one.
    (cd "$build" && measure env RINGSCROLLER_DISPLAY=headless RINGSCROLLER_ESCAPE_AFTER=$frames ./ringscroller &&
        echo "$took $used" >"$scratch")
    read -r took used <"$scratch"
    ours=$(echo "$frames / $took" | bc -l)
    mine=$used elapsed=$took
    naive=$("$peers" naive 1500 | sed -n 's/^naive-scalar: \([0-9.]*\) fps.*/\1/p')
    after=$(busy)
    # The peer's own time: 1500 frames at the rate it printed, one core.
    others=$(echo "($after - $before - $mine - 1500 / $naive) / (($elapsed + 1500 / $naive) * $cores) * 100" | bc -l)
    ratio=$(echo "$ours / $naive" | bc -l)
    ratios+=("$ratio")
    printf 'round %d: %.0f frames/s, naive %.0f frames/s, %.1fx  (others took %.0f%% of the machine)\n' \
        "$round" "$ours" "$naive" "$ratio" "$(echo "if ($others < 0) 0 else $others" | bc -l)"
done
median=$(printf '%s\n' "${ratios[@]}" | sort -g | awk '{v[NR] = $1} END {print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2}')
printf 'median of %d: %.1fx\n' "$rounds" "$median"
