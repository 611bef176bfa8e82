#!/usr/bin/env bash
# Installs what is missing, builds everything, and runs every test.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"
voltaro_install_packages
voltaro_build
export QT_QPA_PLATFORM=offscreen
ctest --test-dir "$VOLTARO_BUILD" --output-on-failure -j2 --timeout 300
