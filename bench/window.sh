#!/usr/bin/env bash
# The window with the emulated board on Qt's offscreen platform (targets in brackets):
#   time from process start to the first sample on screen, five runs [< 1.3 s]
#   CPU use of the client with the window open over one minute [< 1 % of one core]
#   peak resident memory of the client [< 80 MB]
# Usage: bench/window.sh [BUILD_DIR]   (build the targets quelmar and bench_window first)
set -euo pipefail
build=${1:-build}
export QUELMAR_SIMULATOR=1 QT_QPA_PLATFORM=offscreen

for _ in 1 2 3 4 5; do
    "$build/bench/bench_window" 2>/dev/null
done

ticks() { awk '{ print $14 + $15 }' "/proc/$1/stat"; } # utime + stime
"$build/quelmar" >/dev/null 2>&1 &
pid=$!
trap 'kill $pid 2>/dev/null || true' EXIT
sleep 5 # past the start-up
before=$(ticks "$pid")
sleep 60
after=$(ticks "$pid")
hz=$(getconf CLK_TCK)
awk -v t=$((after - before)) -v hz="$hz" 'BEGIN { printf "CPU over one minute: %.2f %% of one core\n", t / hz / 60 * 100 }'
awk '/VmHWM/ { printf "peak resident memory: %.1f MB\n", $2 / 1024 }' "/proc/$pid/status"
