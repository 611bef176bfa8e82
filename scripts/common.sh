# Shared by the README's commands: install what the build needs, then configure and build.
# Source it; it expects to be run from anywhere inside the repository.

VOLTARO_ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
VOLTARO_BUILD="${VOLTARO_BUILD:-$VOLTARO_ROOT/build}"

# Debian 12 packages the build, the tests and the program use.
VOLTARO_PACKAGES=(
    build-essential cmake ninja-build pkg-config
    qt6-base-dev libqcustomplot-dev libudev-dev libmuparser-dev libsystemd-dev systemd
    libgtest-dev libgmock-dev libbenchmark-dev
    xvfb xauth fonts-dejavu-core fonts-liberation2 poppler-utils
    umockdev libumockdev-dev
    dpkg-dev file lintian desktop-file-utils help2man librsvg2-bin man-db bsdextrautils
    clang libclang-rt-14-dev ccache
    influxdb locales python3 libreoffice-calc-nogui
    mosquitto mosquitto-clients libmosquitto-dev
    python3-pyvisa python3-pyvisa-py
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
    # The tests start influxd themselves, on ports of their own: the package's
    # own service (a database on port 8086) is stopped and left disabled.
    if [[ " ${missing[*]} " == *" influxdb "* ]] && [ -d /run/systemd/system ]; then
        "${sudo[@]}" systemctl disable --now influxdb.service || true
    fi
    # Likewise mosquitto's service (a broker on port 1883): the tests start
    # their own brokers on free ports of 127.0.0.1.
    if [[ " ${missing[*]} " == *" mosquitto "* ]]; then
        if [ -d /run/systemd/system ]; then
            "${sudo[@]}" systemctl disable --now mosquitto.service || true
        else
            "${sudo[@]}" service mosquitto stop || true
        fi
    fi
}

# Compiles go through ccache: the ordinary and the sanitizer builds, and any
# clone of the repository, then share what did not change. Paths under the
# repository are taken relative to it, so a second clone hits the same cache.
export CCACHE_BASEDIR="${CCACHE_BASEDIR:-$VOLTARO_ROOT}"
export CCACHE_NOHASHDIR="${CCACHE_NOHASHDIR:-1}"
VOLTARO_LAUNCHER=()
command -v ccache >/dev/null 2>&1 && VOLTARO_LAUNCHER=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)

# Configures and builds a tree: voltaro_configure DIR [cmake options...]
voltaro_configure() {
    local dir="$1"
    shift
    cmake -S "$VOLTARO_ROOT" -B "$dir" -G Ninja "${VOLTARO_LAUNCHER[@]}" "$@"
}

voltaro_build() {
    voltaro_configure "$VOLTARO_BUILD" "$@"
    cmake --build "$VOLTARO_BUILD" -j2
}
