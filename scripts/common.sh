# Shared by scripts/run, scripts/test and the other scripts: install what is
# missing, configure, build.
# shellcheck shell=bash

SONOPROG_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
BUILD_DIR=${BUILD_DIR:-$SONOPROG_ROOT/build}

# Debian packages that building and running the program need (scripts/run).
SONOPROG_PACKAGES=(
    build-essential cmake ninja-build pkg-config
    qt6-base-dev qt6-base-dev-tools libgl-dev
    libusb-1.0-0-dev libinih-dev libssl-dev
    qt6-multimedia-dev libsndfile1-dev libsoxr-dev  # audio import and playback
    libsqlite3-dev libpq-dev nlohmann-json3-dev  # jobs and per-unit records
    libcpp-httplib-dev  # the line page's web server (sonoprog-cli serve)
    fonts-dejavu-core fonts-liberation2  # the Tahoma substitute the window prefers
    file  # cpack's shared-library check when the Debian package is made (README)
)

# What the tests, the benchmarks and the reliability runs need on top
# (scripts/test, scripts/fuzz, scripts/sanitize, bench/run).
SONOPROG_TEST_PACKAGES=(
    libgtest-dev libgmock-dev libbenchmark-dev
    umockdev libumockdev-dev  # the real libusb path on an emulated Writer
    clang libclang-rt-dev     # the fuzz targets and their sanitizer runtime
    postgresql  # a line's records server (the tests start a throw-away one)
    jq          # bench/run reads the benchmark results (JSON)
    libcsv-dev  # the records tests read the CSV export with a standard parser
    chromium    # the line page's test loads the page in a headless browser
)

# What scripts/screenshots needs on top of the program's packages: a virtual
# display and a way to grab a window from it.
SONOPROG_SCREENSHOT_PACKAGES=(
    xvfb xdotool imagemagick
)

# True when every named package is installed.
sonoprog_have_packages() {
    local pkg
    for pkg in "$@"; do
        [[ "$(dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null)" == *"install ok installed"* ]] ||
            return 1
    done
}

# Installs those of the named packages that are missing.
sonoprog_install_missing() {
    local missing=()
    local pkg
    for pkg in "$@"; do
        sonoprog_have_packages "$pkg" || missing+=("$pkg")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    echo "Installing: ${missing[*]}"
    local sudo=()
    [ "$(id -u)" -ne 0 ] && sudo=(sudo)
    "${sudo[@]}" apt-get update -qq
    DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -qq --no-install-recommends \
        "${missing[@]}"
}

# Building and running the program, plus any packages named.
sonoprog_install_run_packages() {
    sonoprog_install_missing "${SONOPROG_PACKAGES[@]}" "$@"
}

# Everything the tests need as well, plus any packages named.
sonoprog_install_packages() {
    sonoprog_install_missing "${SONOPROG_PACKAGES[@]}" "${SONOPROG_TEST_PACKAGES[@]}" "$@"
}

# The whole tree: programs, tests and benchmarks.
sonoprog_build() {
    cmake -S "$SONOPROG_ROOT" -B "$BUILD_DIR" -G Ninja \
        -DSONOPROG_BUILD_TESTS=ON -DSONOPROG_BUILD_BENCH=ON "$@" >/dev/null
    cmake --build "$BUILD_DIR" -j "$(nproc)"
}

# The two programs only, with the manual pages, so that `cpack` can make the
# Debian package from this build at once (the README's next step). A tree
# already configured with the tests keeps them when their packages are there
# (a developer's build stays whole); without them the tests and benchmarks are
# left out, since they cannot configure.
sonoprog_build_programs() {
    local extra=()
    sonoprog_have_packages "${SONOPROG_TEST_PACKAGES[@]}" ||
        extra=(-DSONOPROG_BUILD_TESTS=OFF -DSONOPROG_BUILD_BENCH=OFF)
    cmake -S "$SONOPROG_ROOT" -B "$BUILD_DIR" -G Ninja "${extra[@]}" "$@" >/dev/null
    cmake --build "$BUILD_DIR" -j "$(nproc)" --target sonoprog sonoprog-cli sonoprog_manpages
}
