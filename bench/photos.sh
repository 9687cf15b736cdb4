# Sourced by the benchmark scripts: make_photos FOLDER COUNT KIB makes COUNT
# files of random bytes, KIB KiB each, in ten subfolders of FOLDER, all
# modified two hours ago (settled).
make_photos() {
    i=0
    while [ "$i" -lt "$2" ]; do
        d=$1/d$((i % 10))
        [ -d "$d" ] || mkdir -p "$d"
        head -c $(($3 * 1024)) /dev/urandom > "$d/img_$i.jpg"
        i=$((i + 1))
    done
    find "$1" -type f -exec touch -d '2 hours ago' {} +
}
