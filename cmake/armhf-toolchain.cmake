# Cross build for the instrument's processor: 32-bit ARM Linux, hard float.
#
#   cmake -S . -B build-armhf -DCMAKE_TOOLCHAIN_FILE=cmake/armhf-toolchain.cmake \
#         -DSKARVIK_ARMHF_DEPS=$PWD/build-armhf-deps
#
# scripts/install-armhf installs the cross compiler, qemu-user and the armhf
# libraries, and unpacks into SKARVIK_ARMHF_DEPS what cannot be installed
# beside the host's packages: wxWidgets' armhf setup.h, umockdev's armhf
# pkg-config file and preload library. Test programs run under qemu-arm.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR arm)
set(CMAKE_C_COMPILER arm-linux-gnueabihf-gcc)
set(CMAKE_CXX_COMPILER arm-linux-gnueabihf-g++)
set(CMAKE_LIBRARY_ARCHITECTURE arm-linux-gnueabihf)

set(SKARVIK_ARMHF_DEPS "${CMAKE_CURRENT_LIST_DIR}/../build-armhf-deps" CACHE PATH
    "Directory that scripts/install-armhf unpacked the armhf extras into")
# Compiler checks read this file again in a project of their own.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES SKARVIK_ARMHF_DEPS)
set(_deps "${SKARVIK_ARMHF_DEPS}")

# The host's wx-config describes the amd64 build; it must not be asked.
set(wxWidgets_CONFIG_EXECUTABLE "wxWidgets_CONFIG_EXECUTABLE-NOTFOUND" CACHE FILEPATH
    "no host wx-config in the armhf build" FORCE)
set(SKARVIK_WX_SETUP_DIR
    "${_deps}/wx/usr/lib/arm-linux-gnueabihf/wx/include/gtk3-unicode-3.2")
set(SKARVIK_WX_BASE_LIBRARY /usr/lib/arm-linux-gnueabihf/libwx_baseu-3.2.so.0)

# pkg-config sees only armhf .pc files.
set(ENV{PKG_CONFIG_LIBDIR}
    "${_deps}/umockdev-dev/usr/lib/arm-linux-gnueabihf/pkgconfig:/usr/lib/arm-linux-gnueabihf/pkgconfig:/usr/share/pkgconfig")
set(ENV{PKG_CONFIG_SYSROOT_DIR} "")

# Test programs run under user-mode emulation, with the armhf C library's own
# loader (-L /): the cross compiler's copy of the loader in
# /usr/arm-linux-gnueabihf is an older build than the armhf libc6 that the
# armhf libraries pull in, and that pair crashes in pthread_create.
#
# umockdev's preload library goes to the ARM program through -E, and the
# tests' own LD_PRELOAD is left out (tests/CMakeLists.txt). Its path holds the
# loader's $LIB: the ARM loader reads lib/arm-linux-gnueabihf there and finds
# the armhf preload, a host loader reads lib/x86_64-linux-gnu (or its own
# multiarch directory) and finds the host's (scripts/install-armhf links
# both). The programs the tests start inherit that LD_PRELOAD: the emulator
# that runs an ARM one is a host program, and so are the commands the tests
# run under txsim, and each loader takes the preload of its own kind.
set(SKARVIK_ARMHF_PRELOAD "${_deps}/preload/$LIB/libumockdev-preload.so.0")
set(CMAKE_CROSSCOMPILING_EMULATOR qemu-arm -L / -E LD_PRELOAD=${SKARVIK_ARMHF_PRELOAD})
set(SKARVIK_TEST_ENV "QEMU_LD_PREFIX=/")
