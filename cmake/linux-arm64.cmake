# 64-bit ARM Linux (Raspberry Pi OS 64-bit, Debian arm64), cross-built on Debian.
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(PZ_CROSS_TRIPLET aarch64-linux-gnu)
set(PZ_CROSS_QEMU qemu-aarch64-static)
include(${CMAKE_CURRENT_LIST_DIR}/linux-cross.cmake)
