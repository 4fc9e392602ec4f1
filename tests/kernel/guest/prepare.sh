#!/usr/bin/env bash
# prepare.sh CACHE: makes the guest once per machine in CACHE: Debian's kernel (unpacked from its package, not
# installed), busybox-static, and an initramfs running init.sh. Does nothing when CACHE already holds a guest
# made from the same kernel package and the same init.sh.
set -euo pipefail
cache=$1
here=$(cd "$(dirname "$0")" && pwd)
modules=(virtio_pci 9pnet_virtio 9p usbhid hid-generic dummy_hcd gadgetfs)

kernelPackage() { apt-cache depends linux-image-amd64 2>/dev/null | awk '/Depends: linux-image-[0-9]/ { print $2; exit }'; }
package=$(kernelPackage)
if [[ -z $package ]]; then
    apt-get update -qq
    package=$(kernelPackage)
fi
[[ -n $package ]] || { echo "prepare.sh: no kernel package linux-image-amd64 in the package lists" >&2; exit 1; }
stamp="$package $(sha256sum "$here/init.sh" | cut -c1-16)"
if [[ -f $cache/stamp && $(cat "$cache/stamp") == "$stamp" ]]; then
    exit 0
fi

mkdir -p "$cache"
work=$(mktemp -d "$cache/.prepare.XXXXXX")
trap 'rm -rf "$work"' EXIT
mkdir "$work/debs"
(cd "$work/debs" && apt-get download -qq -o APT::Sandbox::User=root "$package" busybox-static)
dpkg-deb -x "$work"/debs/linux-image-*.deb "$work/kernel"
dpkg-deb -x "$work"/debs/busybox-static_*.deb "$work/busybox"
version=$(ls "$work/kernel/lib/modules")
depmod -b "$work/kernel" "$version"

# The initramfs: busybox, the modules the guest loads with what they depend on, and the init script.
root=$work/root
mkdir -p "$root"/{bin,dev,proc,sys,host,lib/modules/"$version"}
cp "$work/busybox/bin/busybox" "$root/bin/"
from=$work/kernel/lib/modules/$version
to=$root/lib/modules/$version
for m in "${modules[@]}"; do
    line=$(grep -E "/${m//-/[-_]}\.ko(\.xz)?:" "$from/modules.dep") || { echo "prepare.sh: no module $m" >&2; exit 1; }
    for f in ${line%%:*} ${line#*:}; do
        mkdir -p "$to/$(dirname "$f")"
        cp -n "$from/$f" "$to/$f"
    done
done
cp "$from"/modules.{dep,builtin,order} "$to/"
cp "$here/init.sh" "$root/init"
chmod +x "$root/init"
(cd "$root" && find . | cpio -o -H newc --quiet | gzip -1) > "$work/initrd.gz"

cp "$work"/kernel/boot/vmlinuz-* "$cache/vmlinuz.new"
mv "$work/initrd.gz" "$cache/initrd.gz"
mv "$cache/vmlinuz.new" "$cache/vmlinuz"
echo "$stamp" > "$cache/stamp"
echo "prepare.sh: guest with kernel $version in $cache" >&2
