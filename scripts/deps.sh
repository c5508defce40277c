# The Debian 12 packages of the project, in two sets; sourced by
# scripts/setup.sh, which installs the missing ones.

# run.sh: sorvenka.exe and the harness built by the MinGW cross compiler
# (ImageMagick and icoutils make the icon), run under 32-bit Wine (through
# qemu-i386 on kernels without IA-32 emulation), and a screenshot of the
# tray menu on a private Xvfb, with a font for the Japanese texts.
SORVENKA_PACKAGES_RUN=(cmake make python3 g++-mingw-w64-i686 binutils-mingw-w64-i686 icoutils
    imagemagick wine wine32:i386 wine32-preloader:i386 wine64 wine64-preloader qemu-user-static
    binfmt-support locales xvfb xdotool x11-utils fonts-ipafont-gothic)

# test.sh on top: the host build and its unit tests (GoogleTest), the
# fuzzers (clang), the exe checks (pefile), the release floppy (mtools),
# and the QEMU tier: the PC models and what builds the guest image (a
# static libc for its iopl wrapper comes with g++); and clang-format, which
# formats every C++ file before a commit.
SORVENKA_PACKAGES_TEST=(g++ clang libclang-rt-14-dev googletest libgtest-dev python3-pefile
    mtools qemu-system-x86 debootstrap e2fsprogs clang-format)
