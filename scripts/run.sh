#!/usr/bin/env bash
# Installs what is missing, builds, and starts the program.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"
voltaro_install_packages
voltaro_build
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ] && [ -z "${QT_QPA_PLATFORM:-}" ]; then
    echo "No display found: run this from a desktop session (or under xvfb-run)." >&2
    exit 1
fi
exec "$VOLTARO_BUILD/app/voltaro-interface"
