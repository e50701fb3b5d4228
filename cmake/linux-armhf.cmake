# 32-bit ARM Linux (Raspberry Pi OS 32-bit, Debian armhf), cross-built on Debian. The C
# library of Debian's cross compiler serves qemu as the target's root (-L) where the armhf
# architecture is not installed through multiarch.
set(CMAKE_SYSTEM_PROCESSOR armv7l)
set(PZ_CROSS_TRIPLET arm-linux-gnueabihf)
set(PZ_CROSS_QEMU qemu-arm-static -L /usr/arm-linux-gnueabihf)
include(${CMAKE_CURRENT_LIST_DIR}/linux-cross.cmake)
