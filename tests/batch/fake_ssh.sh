#!/bin/sh
# A stand-in for ssh: runs the command on this machine, in a directory of
# its own for each host name ($FAKE_SSH_ROOT/HOST, which is also the host's
# home), so that GNU parallel's remote runs can be tested without a second
# machine. Like sshd, it gives the command the user's login shell in SHELL,
# which GNU parallel's remote wrapper runs the command with: the caller's
# environment may have none (a CI runner, a cron job).
while [ $# -gt 0 ]; do
    case $1 in
        -o | -l | -p | -i | -F | -S) shift 2 ;;
        -*) shift ;;
        *) break ;;
    esac
done
host=$1
shift
[ "${1-}" = "--" ] && shift
home=${FAKE_SSH_ROOT:?}/$host
mkdir -p "$home"
shell=$(getent passwd "$(id -u)" | cut -d: -f7)
cd "$home" && HOME=$home SHELL=${shell:-/bin/sh} exec sh -c "$*"
