#!/bin/sh
# PID 1 of the test guest: no init system, just what Wine and the checks
# need. "sorvenka=prepare" on the kernel command line makes the Wine prefix
# (kept in the image); "sorvenka=run" runs the checks the host put on the
# 9p share and writes their output back there.
export PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin
mount -t proc proc /proc
mount -t sysfs sys /sys
mount -t devtmpfs dev /dev
mkdir -p /dev/pts /dev/shm
mount -t devpts devpts /dev/pts
for d in /dev/shm /tmp /run; do mount -t tmpfs tmpfs $d; done
mount -o remount,rw /
export HOME=/root WINEPREFIX=/root/prefix WINEARCH=win32 WINEDEBUG=-all \
    WINEDLLOVERRIDES="mscoree,mshtml=" LANG=C.UTF-8 LC_ALL=C.UTF-8
mode=$(sed -n 's/.*sorvenka=\([a-z]*\).*/\1/p' /proc/cmdline)
echo "sorvenka-guest: $mode"
case $mode in
prepare)
    t0=$(date +%s)
    rm -rf "$WINEPREFIX"
    wine wineboot --init </dev/null >/dev/null 2>&1
    cat >/tmp/prefix.reg <<'REG'
REGEDIT4

[HKEY_CURRENT_USER\Software\Wine\Drivers]
"Graphics"="null"

[HKEY_LOCAL_MACHINE\Software\Microsoft\Windows NT\CurrentVersion\AeDebug]
"Debugger"=""
"Auto"="0"
REG
    wine regedit /S 'Z:\tmp\prefix.reg' </dev/null >/dev/null 2>&1
    wineserver -w
    grep -q '"Graphics"="null"' "$WINEPREFIX/user.reg" && touch "$WINEPREFIX/.ready"
    echo "sorvenka-guest: prefix $([ -f "$WINEPREFIX/.ready" ] && echo ready || echo FAILED) in $(($(date +%s) - t0)) s"
    ;;
run)
    modprobe 9pnet_virtio && modprobe 9p
    mkdir -p /mnt/host
    mount -t 9p -o trans=virtio,version=9p2000.L sorvenka /mnt/host
    # Programs are copied to tmpfs: started from the 9p share they fault at
    # their entry under TCG.
    cp -r /mnt/host/in /tmp/run
    sh /tmp/run/guest.sh /tmp/run /mnt/host/out >/mnt/host/out/guest.log 2>&1
    echo "sorvenka-guest: checks ended with status $?"
    umount /mnt/host
    ;;
esac
sync
mount -o remount,ro /
echo o >/proc/sysrq-trigger
sleep 60
