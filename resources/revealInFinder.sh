#!/bin/sh
# Shows the folder given as the only argument in the desktop's file manager.
# The opener is started in the background: the application waits for this
# script, not for the file manager window.
folder="$1"
if [ -z "$folder" ] || [ ! -d "$folder" ]; then
    echo "revealInFinder.sh: not a folder: '$folder'" >&2
    exit 2
fi
if command -v xdg-open >/dev/null 2>&1; then
    nohup xdg-open "$folder" >/dev/null 2>&1 &
elif command -v gio >/dev/null 2>&1; then
    nohup gio open "$folder" >/dev/null 2>&1 &
else
    echo "revealInFinder.sh: neither xdg-open nor gio is installed, cannot show $folder" >&2
    exit 1
fi
