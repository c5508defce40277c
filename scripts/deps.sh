# Sourced by test.sh and run.sh: installs what the build and the tests need
# on Debian 12, once. Idempotent; needs root (or sudo) only when something
# is missing.

SORVENKA_PACKAGES_BUILD=(cmake make g++ clang libclang-rt-14-dev googletest libgtest-dev
    g++-mingw-w64-i686 binutils-mingw-w64-i686 python3 python3-pefile icoutils imagemagick)
# The program on a real X server: private Xvfb, real clicks, screenshots, and
# a font for its Japanese texts.
SORVENKA_PACKAGES_DESKTOP=(xvfb xdotool x11-utils fonts-ipafont-gothic)
# 32-bit Wine; on kernels without IA-32 emulation it runs through qemu-i386.
# The Wine suite includes the desktop test.
SORVENKA_PACKAGES_WINE=(wine wine32:i386 wine32-preloader:i386 wine64 wine64-preloader
    qemu-user-static binfmt-support locales "${SORVENKA_PACKAGES_DESKTOP[@]}")

# wine32 needs the i386 architecture.
deps_i386() {
    dpkg --print-foreign-architectures | grep -qx i386 && return 0
    echo "== adding the i386 architecture"
    dpkg --add-architecture i386 || { echo "error: cannot add the i386 architecture" >&2; return 1; }
    unset SORVENKA_APT_UPDATED
}

deps_missing() {
    local p missing=()
    for p in "$@"; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' ||
            missing+=("$p")
    done
    echo "${missing[@]}"
}

deps_install() {
    local missing
    missing=$(deps_missing "$@")
    [ -z "$missing" ] && return 0
    local sudo=""
    if [ "$(id -u)" != 0 ]; then
        command -v sudo >/dev/null || {
            echo "error: missing packages: $missing (run as root or install them)" >&2
            return 1
        }
        sudo=sudo
    fi
    echo "== installing: $missing"
    if [ -z "${SORVENKA_APT_UPDATED:-}" ]; then
        $sudo apt-get update -qq || { echo "error: apt-get update failed" >&2; return 1; }
        export SORVENKA_APT_UPDATED=1
    fi
    # shellcheck disable=SC2086
    if ! DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends \
        $missing >/dev/null; then
        echo "error: could not install: $missing" >&2
        return 1
    fi
}
