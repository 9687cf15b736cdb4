#!/bin/bash
# The wall time of one first pass with deletion, the setting-up excluded:
# N fresh photos of 20 KiB in ten folders, an empty archive folder, and bfs
# seeing the clock three days ahead, so every photo is copied and deleted.
# PROGRAM is the test program synchronizeonce of a build
# (build/tests/programs/synchronizeonce); ENGINE is fast or per-file.
#
#   bench/first-pass-with-deletion.sh PROGRAM ENGINE N [RUNS=5]
set -euo pipefail
program=$1 engine=$2 n=$3 runs=${4:-5}
faketime=/usr/lib/x86_64-linux-gnu/faketime/libfaketime.so.1
for ((r = 0; r < runs; r++)); do
    root=$(mktemp -d /var/tmp/tolv-bench.XXXXXX)
    mkdir -p "$root/Main" "$root/Backup"
    for ((i = 0; i < n; i++)); do
        mkdir -p "$root/Main/d$((i % 10))"
        head -c 20480 /dev/urandom >"$root/Main/d$((i % 10))/$i.jpg"
    done
    sync
    start=$(date +%s%N)
    LD_PRELOAD=$faketime FAKETIME=+3d NO_FAKE_STAT=1 FAKETIME_ONLY_CMDS=bfs \
        "$program" "$root/Main" "$root/Backup/Main" 0 1 "$engine" >"$root/out" 2>/dev/null
    end=$(date +%s%N)
    grep -q "deleted $n" "$root/out" || echo "not every photo was deleted: $(cat "$root/out")" >&2
    echo "$(((end - start) / 1000000)) ms"
    rm -rf "$root"
done
