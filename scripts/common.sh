# Shared by the README's commands: install what the build needs, then configure and build.
# Source it; it expects to be run from anywhere inside the repository.

VOLTARO_ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
VOLTARO_BUILD="${VOLTARO_BUILD:-$VOLTARO_ROOT/build}"

# Debian 12 packages the build, the tests and the program use.
VOLTARO_PACKAGES=(
    build-essential cmake ninja-build pkg-config
    qt6-base-dev libqcustomplot-dev libudev-dev
    libgtest-dev libgmock-dev libbenchmark-dev
    xvfb xauth fonts-dejavu-core fonts-liberation2 poppler-utils
    umockdev libumockdev-dev
    dpkg-dev file lintian desktop-file-utils help2man librsvg2-bin man-db bsdextrautils
    clang libclang-rt-14-dev
)

voltaro_install_packages() {
    local missing=()
    local p
    for p in "${VOLTARO_PACKAGES[@]}"; do
        dpkg -s "$p" >/dev/null 2>&1 || missing+=("$p")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    echo "Installing Debian packages: ${missing[*]}"
    local sudo=()
    [ "$(id -u)" -ne 0 ] && sudo=(sudo)
    "${sudo[@]}" apt-get update
    DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y --no-install-recommends "${missing[@]}"
}

voltaro_build() {
    cmake -S "$VOLTARO_ROOT" -B "$VOLTARO_BUILD" -G Ninja "$@"
    cmake --build "$VOLTARO_BUILD" -j2
}
