#!/bin/sh
# Prints the version of the Linux distribution, as os-release(5) gives it.
for file in /etc/os-release /usr/lib/os-release; do
    if [ -r "$file" ]; then
        . "$file"
        break
    fi
done
version="${VERSION_ID:-$VERSION}"
[ -n "$version" ] || exit 1
printf '%s\n' "$version"
