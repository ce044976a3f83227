# Cross build for 32-bit ARM (hard float) with the musl C library and
# libc++, statically linked, through the zig toolchain's clang driver:
#
#   cmake -DCMAKE_TOOLCHAIN_FILE=cmake/arm-linux-musleabihf.cmake \
#         -DSANDRIG_ZIG_PYTHON=/path/to/python-with-ziglang ...
#
# SANDRIG_ZIG_PYTHON is an interpreter with the `ziglang` package installed.
# The compiler, archiver and ranlib are small wrapper scripts written into
# the build tree; test programs run under qemu-arm.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR arm)
set(SANDRIG_TARGET arm-linux-musleabihf)

# try_compile projects re-read this file without the cache: they inherit the
# compilers chosen below, so the wrappers are only written at the top level.
if(SANDRIG_ZIG_PYTHON)
  set(zig_bin ${CMAKE_BINARY_DIR}/zig-bin)
  set(zig_cache ${CMAKE_BINARY_DIR}/zig-cache)
  foreach(tool cc c++ ar ranlib)
    if(tool STREQUAL "cc" OR tool STREQUAL "c++")
      set(target_flag "-target ${SANDRIG_TARGET}")
    else()
      set(target_flag "")
    endif()
    file(WRITE ${zig_bin}/${tool}
         "#!/bin/sh\n"
         "export ZIG_GLOBAL_CACHE_DIR='${zig_cache}' ZIG_LOCAL_CACHE_DIR='${zig_cache}'\n"
         "exec '${SANDRIG_ZIG_PYTHON}' -m ziglang ${tool} ${target_flag} \"$@\"\n")
    file(CHMOD ${zig_bin}/${tool} PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE
         GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
  endforeach()
  set(CMAKE_C_COMPILER ${zig_bin}/cc)
  set(CMAKE_CXX_COMPILER ${zig_bin}/c++)
  set(CMAKE_AR ${zig_bin}/ar CACHE FILEPATH "Archiver" FORCE)
  set(CMAKE_RANLIB ${zig_bin}/ranlib CACHE FILEPATH "Ranlib" FORCE)
endif()

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
set(CMAKE_CROSSCOMPILING_EMULATOR qemu-arm)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
