#!/bin/sh
# Loads the launch agent file given as the only argument into the user's
# scheduler (systemd timer or crontab) through the bundle's launchagent
# helper, and returns once it is loaded, with the helper's exit status.
if [ -z "$1" ]; then
    echo "loadlaunchagent.sh: usage: loadlaunchagent.sh AGENT_FILE" >&2
    exit 2
fi
exec "$(dirname "$0")/../MacOS/launchagent" load "$1"
