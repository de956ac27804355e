# Cross build for the panel's 32-bit ARM (hard-float) with Debian's cross compiler and the armhf
# development packages installed side by side with the build machine's (multiarch).
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR arm)
set(CMAKE_LIBRARY_ARCHITECTURE arm-linux-gnueabihf)
set(CMAKE_C_COMPILER arm-linux-gnueabihf-gcc)
set(CMAKE_CXX_COMPILER arm-linux-gnueabihf-g++)

# Libraries and package files only of the target; programs (moc, rcc, uic) of the build machine.
set(CMAKE_FIND_ROOT_PATH /usr/arm-linux-gnueabihf)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY BOTH)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE BOTH)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE BOTH)
set(ENV{PKG_CONFIG_LIBDIR} /usr/lib/arm-linux-gnueabihf/pkgconfig:/usr/share/pkgconfig)
set(ENV{PKG_CONFIG_PATH} "")

# Test programs run under the user-mode emulator; the target's loader and libraries are found
# under the multiarch root of this machine.
find_program(HIX_QEMU_ARM NAMES qemu-arm-static qemu-arm)
if(HIX_QEMU_ARM)
    set(CMAKE_CROSSCOMPILING_EMULATOR ${HIX_QEMU_ARM})
endif()
