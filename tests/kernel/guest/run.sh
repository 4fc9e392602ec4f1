#!/usr/bin/env bash
# run.sh CACHE WORK SECONDS: boots the guest prepared in CACHE, which runs WORK/commands.sh as root in WORK (shared
# read-write; the host's root is shared read-only, so host-built programs run unchanged). The console goes to
# WORK/console.txt. Exits with the commands' status, or 124 when the guest has not finished within SECONDS.
set -uo pipefail
cache=$1
work=$(realpath "$2")
seconds=$3
[[ -f $cache/stamp ]] || { echo "run.sh: no guest in $cache" >&2; exit 2; }
[[ -f $work/commands.sh ]] || { echo "run.sh: no $work/commands.sh" >&2; exit 2; }
# TCG: KVM is not dependable on the machines this runs on. One CPU: the host has two, and the build shares them.
timeout --kill-after=5 "$seconds" qemu-system-x86_64 -accel tcg -m 1024 -smp 1 -nographic -no-reboot -nodefaults \
    -serial file:"$work/console.txt" -kernel "$cache/vmlinuz" -initrd "$cache/initrd.gz" \
    -virtfs local,path=/,mount_tag=hostroot,security_model=none,readonly=on,multidevs=remap \
    -virtfs local,path="$work",mount_tag=work,security_model=none \
    -append "console=ttyS0 quiet loglevel=3 panic=-1 quelmar.work=$work" </dev/null >"$work/qemu.txt" 2>&1
qemu=$?
status=$(sed -n 's/^guest: exit status \([0-9]*\).*/\1/p' "$work/console.txt" | tail -n 1)
if [[ -z $status ]]; then
    if [[ $qemu -eq 124 || $qemu -eq 137 ]]; then
        echo "run.sh: the guest did not finish within $seconds s" >&2
    else
        echo "run.sh: the guest ended without a status (qemu exit $qemu)" >&2
        cat "$work/qemu.txt" >&2
    fi
    exit 124
fi
exit "$status"
