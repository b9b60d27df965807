# Shared by the tools/*.sh entry points: the packages each job needs.
BUILD_PACKAGES=(cmake ninja-build g++ pkg-config libserialport-dev libncurses-dev libusb-1.0-0-dev libudev-dev)
# gcc-mingw-w64-i686: windres and its preprocessor compile the Windows resources for their test.
TEST_PACKAGES=(libgtest-dev libgmock-dev libbenchmark-dev srecord tmux umockdev libumockdev-dev gcc-mingw-w64-i686 gcc-multilib libc6-dev-i386)
I386_TEST_PACKAGES=(wine32)
WINDOWS_PACKAGES=(g++-mingw-w64-i686 file)
# The Windows program under Wine in a virtual X server (tests/e2e/wine/); wine32 comes from above.
E2E_PACKAGES=(xvfb xauth xdotool imagemagick fonts-wine tzdata)
FUZZ_PACKAGES=(clang)
# The release artefacts (dist/check.sh): dpkg-shlibdeps and file for cpack -G DEB, Info-ZIP for the zip.
RELEASE_PACKAGES=(dpkg-dev file zip unzip)
PICTURE_PACKAGES=(imagemagick python3 fonts-dejavu-core tmux)
