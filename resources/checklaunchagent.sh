#!/bin/sh
# Tells whether the job of the launch agent file given as the only argument
# is still in the user's scheduler (systemd timer or crontab), through the
# bundle's launchagent helper: exit status 0 when it is, 1 with the reason
# on standard output when not.
if [ -z "$1" ]; then
    echo "checklaunchagent.sh: usage: checklaunchagent.sh AGENT_FILE" >&2
    exit 2
fi
exec "$(dirname "$0")/../MacOS/launchagent" check "$1"
