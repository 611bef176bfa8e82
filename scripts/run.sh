#!/usr/bin/env bash
# Installs what is missing, builds, and shows decoded readings from the simulated meter.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"
voltaro_install_packages
voltaro_build
echo "Simulated meter -> frame-replay (Ctrl+C to stop). Columns: frame, value, function, unit,"
echo "range, count, scaled value, point, judgement, bar, lit elements, digits."
"$VOLTARO_BUILD/tools/meter-sim" --scenario tour "$@" | "$VOLTARO_BUILD/tools/frame-replay"
