#!/bin/sh
# What the record of every copy's content costs a first pass: the fast
# engine writing the record (each new copy and its original read and
# hashed before the run ends) beside a plain `rsync -a` of the same photos,
# and beside `rsync -a` followed by `sha256sum` over the copies.
#
#   bench/record-first-pass.sh SYNCHRONIZEONCE PHOTOS KIB [ROUNDS=3] [SCRATCH=/tmp]
#
# e.g. bench/record-first-pass.sh build/tests/programs/synchronizeonce 2000 256
# Each round runs the three in turn into an empty destination; the medians
# of the wall times, and their ratios, are printed.
set -eu
tool=$1 photos=$2 kib=$3 rounds=${4:-3}
scratch=$(mktemp -d "${5:-/tmp}/record-bench.XXXXXX")
trap 'rm -rf "$scratch"' EXIT
src=$scratch/Main
. "$(dirname "$0")/photos.sh"
make_photos "$src" "$photos" "$kib"

seconds() { # command...: wall seconds, into a fresh destination
    rm -rf "$scratch/dest" && mkdir -p "$scratch/dest" && sync
    start=$(date +%s.%N)
    "$@" > /dev/null
    end=$(date +%s.%N)
    echo "$end - $start" | bc
}
engine() { "$tool" "$src" "$scratch/dest/Main" 20 36500 fast; }
plain() { rsync -a "$src/" "$scratch/dest/Main/"; }
pair() { plain && (cd "$scratch/dest/Main" && find . -type f -print0 | xargs -0 sha256sum); }

: > "$scratch/engine" ; : > "$scratch/plain" ; : > "$scratch/pair"
r=0
while [ "$r" -lt "$rounds" ]; do
    seconds engine >> "$scratch/engine"
    seconds plain >> "$scratch/plain"
    seconds pair >> "$scratch/pair"
    r=$((r + 1))
done
median() { sort -n "$1" | awk '{a[NR]=$1} END {print a[int((NR + 1) / 2)]}'; }
e=$(median "$scratch/engine") p=$(median "$scratch/plain") q=$(median "$scratch/pair")
echo "$photos photos of $kib KiB, medians of $rounds:"
echo "  fast engine with the record  $e s"
echo "  rsync -a                     $p s   (engine / rsync -a = $(echo "scale=2; $e / $p" | bc))"
echo "  rsync -a, then sha256sum     $q s   (engine / pair = $(echo "scale=2; $e / $q" | bc))"
