#!/bin/sh
# What --verify costs beside coreutils' own check of the same record:
# an archive of PHOTOS files of KIB KiB is made by the fast engine, then
# `APP --verify` and `sha256sum -c` of its record are timed in turn, with
# the page cache dropped before each run when we may (root), else warm.
# A third timing reads the copies as the running application's reading
# does (the window's "Check Archive…", the daily share): sha256sum children
# of 64 copies each, at idle disk priority.
#
#   bench/verify.sh APP SYNCHRONIZEONCE PHOTOS KIB [ROUNDS=3] [SCRATCH=/tmp]
#
# e.g. bench/verify.sh build/Tolv-Archiver.app/Contents/MacOS/Tolv-Archiver \
#          build/tests/programs/synchronizeonce 20000 32
set -eu
app=$(realpath "$1") tool=$(realpath "$2") photos=$3 kib=$4 rounds=${5:-3}
scratch=$(mktemp -d "${6:-/tmp}/verify-bench.XXXXXX")
trap 'rm -rf "$scratch"' EXIT
export HOME=$scratch/home
mkdir -p "$HOME" "$scratch/Backup"
src=$scratch/Main
. "$(dirname "$0")/photos.sh"
make_photos "$src" "$photos" "$kib"
"$app" --set-destination "$scratch/Backup" > /dev/null
"$app" --set-source 1 "$src" > /dev/null
"$tool" "$src" "$scratch/Backup/Main" 0 36500 fast > /dev/null 2>&1
cold() { sync; [ "$(id -u)" = 0 ] && echo 3 > /proc/sys/vm/drop_caches || true; }
seconds() {
    cold
    start=$(date +%s.%N)
    "$@" > /dev/null 2>&1 || true
    end=$(date +%s.%N)
    echo "$end - $start" | bc
}
ours() { "$app" --verify; }
theirs() { (cd "$scratch/Backup/Main" && sha256sum -c --quiet ../.tolv-archiver-sha256/Main.sha256); }
batched() {
    (cd "$scratch/Backup/Main" && sed 's/^[0-9a-f]*  //' ../.tolv-archiver-sha256/Main.sha256 |
        xargs -d '\n' -n 64 ionice -t -c3 sha256sum --)
}
: > "$scratch/ours"; : > "$scratch/theirs"; : > "$scratch/batched"
r=0
while [ "$r" -lt "$rounds" ]; do
    seconds ours >> "$scratch/ours"
    seconds theirs >> "$scratch/theirs"
    seconds batched >> "$scratch/batched"
    r=$((r + 1))
done
median() { sort -n "$1" | awk '{a[NR]=$1} END {print a[int((NR + 1) / 2)]}'; }
o=$(median "$scratch/ours") t=$(median "$scratch/theirs") b=$(median "$scratch/batched")
echo "$photos copies of $kib KiB, medians of $rounds:"
echo "  --verify          $o s"
echo "  sha256sum -c      $t s   (--verify / sha256sum -c = $(echo "scale=2; $o / $t" | bc))"
echo "  reading batches   $b s   (batches / sha256sum -c = $(echo "scale=2; $b / $t" | bc))"
"$app" --verify | head -1
