#!/bin/sh
# Unloads the launch agent file given as the only argument from the user's
# scheduler (systemd timer or crontab) through the bundle's launchagent
# helper, and returns once it is unloaded, with the helper's exit status.
if [ -z "$1" ]; then
    echo "unloadlaunchagent.sh: usage: unloadlaunchagent.sh AGENT_FILE" >&2
    exit 2
fi
exec "$(dirname "$0")/../MacOS/launchagent" unload "$1"
