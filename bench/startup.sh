#!/usr/bin/env bash
# What a command-line mode costs as a whole process (targets in brackets), measured with hyperfine:
#   quelmar --probe with no board (real HID access) [< 8 ms]
#   quelmar --verify-hex of a full-area image, beside srec_cat reading the same file
# and the shared libraries the executable needs (none of Qt Gui, Widgets, Svg, D-Bus or X).
# Usage: bench/startup.sh [BUILD_DIR]   (build the target quelmar first)
set -euo pipefail
build=${1:-build}
quelmar=$(realpath "$build/quelmar")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# 44,928 bytes at the APP area's start, in 32-byte records, as a release image would be.
srec_cat -generate 0x08003000 0x0800DF80 --repeat-string "Quelmar" -o "$work/full.hex" -intel -obs=32

echo "shared libraries: $(ldd "$quelmar" | wc -l)"
if ldd "$quelmar" | grep -E 'libQt6(Gui|Widgets|Svg|DBus)|libX|libxcb|libdbus'; then
    echo "graphical libraries linked (above)"
fi
env -u QUELMAR_SIMULATOR hyperfine -N --warmup 20 --runs 300 --style basic \
    "$quelmar --probe" \
    "$quelmar --verify-hex $work/full.hex" \
    "srec_cat $work/full.hex -intel -crc32-l-e 0x0800DF80 -o /dev/null -intel"
