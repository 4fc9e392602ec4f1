#!/bin/busybox sh
# The guest's init: loads the USB gadget and HID modules, mounts gadgetfs on /dev/gadget, mounts the host's
# root (read-only) and the work folder over 9p, runs the work folder's commands.sh in a chroot of the host's
# root, reports its exit status on the console and powers off.
/bin/busybox --install -s /bin
export PATH=/bin
mount -t proc proc /proc
mount -t sysfs sys /sys
mount -t devtmpfs dev /dev
for a in $(cat /proc/cmdline); do
    case $a in quelmar.work=*) work=${a#*=} ;; esac
done
for m in virtio_pci 9pnet_virtio 9p usbhid hid-generic dummy_hcd gadgetfs; do
    modprobe $m || echo "guest: modprobe $m failed"
done
mkdir -p /dev/gadget && mount -t gadgetfs gadgetfs /dev/gadget
options=trans=virtio,version=9p2000.L,msize=262144
# The host's root does not change under the guest: its pages may be cached.
mount -t 9p -o $options,ro,cache=loose hostroot /host || echo "guest: the host's root cannot be mounted"
for d in dev sys proc; do mount --rbind /$d /host/$d; done
mount -t tmpfs tmp /host/tmp
mount -t tmpfs run /host/run
mkdir -p /host$work
mount -t 9p -o $options work /host$work || echo "guest: the work folder cannot be mounted"
echo "guest: ready after $(cut -d' ' -f1 /proc/uptime) s"
chroot /host /usr/bin/env -i PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin HOME=/tmp LANG=C.UTF-8 \
    /bin/sh -c "cd '$work' && exec /bin/sh ./commands.sh" </dev/null
echo "guest: exit status $?"
dmesg | grep -iE 'usb|hid|gadget' | tail -n 60 > /host$work/dmesg.txt
echo o > /proc/sysrq-trigger
poweroff -f
