# Shared by the Linux cross builds (cmake/linux-arm64.cmake, cmake/linux-armhf.cmake): Debian's
# cross compiler for PZ_CROSS_TRIPLET, the target's libraries from Debian multiarch
# (/usr/lib/<triplet>, installed as package:<arch>), and Qt's code generators from the build
# machine's own Qt. The test programs run under qemu-user (PZ_CROSS_QEMU); the target's
# loader and libraries are installed by multiarch where qemu looks for them, so it needs no
# -L prefix.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_C_COMPILER ${PZ_CROSS_TRIPLET}-gcc)
set(CMAKE_CXX_COMPILER ${PZ_CROSS_TRIPLET}-g++)
set(CMAKE_LIBRARY_ARCHITECTURE ${PZ_CROSS_TRIPLET})
# Programs (help2man, gzip, dpkg-shlibdeps) are the build machine's; libraries, headers and
# packages' CMake files only the target's, never the build machine's of the same name.
set(CMAKE_FIND_ROOT_PATH /usr/${PZ_CROSS_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY BOTH)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE BOTH)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE BOTH)
set(QT_HOST_PATH /usr)
set(QT_HOST_PATH_CMAKE_DIR /usr/lib/${CMAKE_HOST_SYSTEM_PROCESSOR}-linux-gnu/cmake)
set(CMAKE_CROSSCOMPILING_EMULATOR ${PZ_CROSS_QEMU})
