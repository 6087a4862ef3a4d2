# Cross-compiles zelvar for 64-bit ARM Linux with the GNU cross compilers:
#   cmake -S . -B build-arm -DCMAKE_TOOLCHAIN_FILE=cmake/aarch64-linux.cmake \
#     -DCMAKE_BUILD_TYPE=Release -DZELVAR_TESTS=OFF
# The program then runs on an x86-64 machine under qemu-user:
#   QEMU_LD_PREFIX=/usr/aarch64-linux-gnu qemu-aarch64 build-arm/zelvar ...
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(ZELVAR_ARM_PREFIX aarch64-linux-gnu)
set(CMAKE_C_COMPILER ${ZELVAR_ARM_PREFIX}-gcc)
set(CMAKE_CXX_COMPILER ${ZELVAR_ARM_PREFIX}-g++)
set(CMAKE_FIND_ROOT_PATH /usr/${ZELVAR_ARM_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_CROSSCOMPILING_EMULATOR qemu-aarch64 -L /usr/${ZELVAR_ARM_PREFIX})
