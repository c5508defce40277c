# The Debian 12 packages of the build, the tests and run.sh; sourced by
# scripts/setup.sh, which installs the missing ones.

SORVENKA_PACKAGES_BUILD=(cmake make g++ clang libclang-rt-14-dev googletest libgtest-dev
    g++-mingw-w64-i686 binutils-mingw-w64-i686 python3 python3-pefile icoutils imagemagick mtools)
# The program on a real X server: private Xvfb, real clicks, screenshots, and
# a font for its Japanese texts.
SORVENKA_PACKAGES_DESKTOP=(xvfb xdotool x11-utils fonts-ipafont-gothic)
# 32-bit Wine; on kernels without IA-32 emulation it runs through qemu-i386.
# The Wine suite includes the desktop test.
SORVENKA_PACKAGES_WINE=(wine wine32:i386 wine32-preloader:i386 wine64 wine64-preloader
    qemu-user-static binfmt-support locales "${SORVENKA_PACKAGES_DESKTOP[@]}")
# The QEMU tier (tests/qemu): the PC models, and what builds the guest image
# (a static libc for its iopl wrapper comes with g++).
SORVENKA_PACKAGES_QEMU=(qemu-system-x86 debootstrap e2fsprogs)
SORVENKA_PACKAGES=("${SORVENKA_PACKAGES_BUILD[@]}" "${SORVENKA_PACKAGES_WINE[@]}"
    "${SORVENKA_PACKAGES_QEMU[@]}")
