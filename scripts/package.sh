#!/usr/bin/env bash
# Installs what is missing, builds, and makes the Debian package
# (build/voltaro-interface_<version>_<arch>.deb) with CPack.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"
voltaro_install_packages
voltaro_build
cd "$VOLTARO_BUILD"
cpack -G DEB
