#!/usr/bin/env bash
# Installs what is missing, builds, and starts the program with a simulated
# meter on a pseudo-terminal behind the "COM1" choice: press "COM Connect" to
# see live readings. Any arguments go to the simulator (see meter-sim --help).
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"
voltaro_install_packages
voltaro_build
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ] && [ -z "${QT_QPA_PLATFORM:-}" ]; then
    echo "No display found: run this from a desktop session (or under xvfb-run)." >&2
    exit 1
fi

fifo="$(mktemp -u)"
mkfifo "$fifo"
"$VOLTARO_BUILD/tools/meter-sim" --pty --scenario trend "$@" >"$fifo" &
sim=$!
trap 'kill "$sim" 2>/dev/null || true; rm -f "$fifo"' EXIT
read -r device <"$fifo"
echo "Simulated meter on $device, reachable as COM1: press \"COM Connect\"."
VOLTARO_COM1="$device" "$VOLTARO_BUILD/widgets/voltaro-interface"
