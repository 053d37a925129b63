# Shared by scripts/run and scripts/test: install what is missing, configure, build.
# shellcheck shell=bash

SONOPROG_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
BUILD_DIR=${BUILD_DIR:-$SONOPROG_ROOT/build}

# Debian packages the build, the tests and the demonstration need (file: the
# package build's shared-library check, see scripts/test-package).
SONOPROG_PACKAGES=(
    build-essential cmake ninja-build pkg-config
    qt6-base-dev qt6-base-dev-tools libgl-dev
    libusb-1.0-0-dev libinih-dev libssl-dev
    qt6-multimedia-dev libsndfile1-dev libsoxr-dev  # audio import and playback
    libsqlite3-dev libpq-dev nlohmann-json3-dev  # jobs and per-unit records
    postgresql  # a line's records server (the tests start a throw-away one)
    umockdev libumockdev-dev clang libclang-rt-dev
    libgtest-dev libgmock-dev libbenchmark-dev
    libcsv-dev  # the records tests read the CSV export with a standard parser
    fonts-dejavu-core fonts-liberation2  # the Tahoma substitute the window prefers
    file
    jq  # bench/run reads the benchmark results (JSON)
)

sonoprog_install_packages() {
    local missing=()
    local pkg
    for pkg in "${SONOPROG_PACKAGES[@]}" "$@"; do
        [[ "$(dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null)" == *"install ok installed"* ]] ||
            missing+=("$pkg")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    echo "Installing: ${missing[*]}"
    local sudo=()
    [ "$(id -u)" -ne 0 ] && sudo=(sudo)
    "${sudo[@]}" apt-get update -qq
    DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -qq --no-install-recommends \
        "${missing[@]}"
}

sonoprog_build() {
    cmake -S "$SONOPROG_ROOT" -B "$BUILD_DIR" -G Ninja "$@" >/dev/null
    cmake --build "$BUILD_DIR" -j "$(nproc)"
}
