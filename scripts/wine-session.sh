#!/usr/bin/env bash
# start: one persistent wineserver for the prefix, with Wine's own background processes (services,
# explorer) started here, detached from any test's output pipes, so that no test runner waits on them;
# a hidden window of ours keeps the desktop process alive for the whole session.
# stop: ends the server and every process of the prefix.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"
case "${1:-}" in
start)
    wineserver -p 2>/dev/null || true  # already running for this prefix is fine
    wine cmd.exe /c exit </dev/null >/dev/null 2>&1 || true
    # One hidden window keeps Wine's desktop process from ending and restarting under a test.
    keeper="${OV_BUILD}/x64/tools/SessionKeeper/SessionKeeper.exe"
    if [ -f "$keeper" ]; then
        nohup wine "$keeper" </dev/null >/dev/null 2>&1 &
    fi
    ;;
stop)
    wineserver -k 2>/dev/null || true
    ;;
*)
    echo "usage: $0 start|stop" >&2
    exit 2
    ;;
esac
