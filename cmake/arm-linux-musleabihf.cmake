# Cross build for 32-bit ARM (hard float) with the musl C library and
# libc++, statically linked, through the zig toolchain (cmake/zig.cmake):
#
#   cmake -DCMAKE_TOOLCHAIN_FILE=cmake/arm-linux-musleabihf.cmake \
#         -DSANDRIG_ZIG_PYTHON=/path/to/python-with-ziglang ...
#
# Test programs run under qemu-arm.
set(SANDRIG_ZIG_TARGET arm-linux-musleabihf)
include(${CMAKE_CURRENT_LIST_DIR}/zig.cmake)
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
set(CMAKE_CROSSCOMPILING_EMULATOR qemu-arm)
