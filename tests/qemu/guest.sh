#!/bin/sh
# Every check of one machine in one boot, inside the guest: the programs run
# under Wine with I/O privilege (iopl-exec), lspci reads the chipset. RUN
# holds the programs and cases/NAME/{kvtl.cfg,routes}; the outputs go to
# OUT, with one "step status" line per step in OUT/steps. The host judges.
run=$1 out=$2
cd "$run" || exit 1
wineserver -p
# Both programs are for Windows 9x, and kvtlpeek refuses an NT version.
for exe in kvtlpeek.exe sorvenka.exe; do
    wine reg add "HKCU\\Software\\Wine\\AppDefaults\\$exe" /v Version /d win98 /f >/dev/null 2>&1
done
note() { echo "$1 $2" >>"$out/steps"; }
dump() { lspci -n -xxx >"$out/$1.txt" 2>"$out/$1.err"; }

dump lspci-start
# Every capability lspci decodes, for the names kvtlcheck gives their bytes.
lspci -vvv >"$out/lspci-vvv.txt" 2>&1
iopl-exec wine "$run/kvtlpeek.exe" >"$out/peek-dump.txt" 2>"$out/peek-dump.err"
note peek-dump $?

for dir in "$run"/cases/*/; do
    name=$(basename "$dir")
    cd "$dir" || exit 1
    iopl-exec wine "$run/kvtlpeek.exe" kvtl.cfg >"$out/$name.preview.txt" 2>"$out/$name.preview.err"
    note "$name.preview" $?
    for route in $(cat routes); do
        case $route in
        exit) how="cmd IDM_EXIT" ;;
        close) how="close" ;;
        endsession) how="endsession" ;;
        esac
        at=$name.$route
        rm -f /tmp/ready /tmp/go
        dump "$at.before"
        iopl-exec wine "$run/harness.exe" --real-ports --timeout 300000 \
            --report "$out/$at.report.txt" \
            --drive "window;barrier;signal /tmp/ready;await /tmp/go;$how;exit" \
            "$run/sorvenka.exe" >"$out/$at.harness.txt" 2>&1 &
        pid=$!
        n=0
        while [ ! -e /tmp/ready ] && kill -0 $pid 2>/dev/null && [ $n -lt 600 ]; do
            sleep 1
            n=$((n + 1))
        done
        dump "$at.during"
        [ -f conf1 ] && lspci -A intel-conf1 -n -xxx >"$out/$at.during-conf1.txt" 2>&1
        touch /tmp/go
        wait $pid
        note "$at" $?
        dump "$at.after"
    done
done
wineserver -k
echo done >"$out/done"
