# Cross build through the zig toolchain's clang driver, for any target zig
# knows, with libc++ linked in statically (the built code needs nothing but
# the C library at run time):
#
#   cmake -DCMAKE_TOOLCHAIN_FILE=cmake/zig.cmake -DSANDRIG_ZIG_TARGET=TRIPLE \
#         -DSANDRIG_ZIG_PYTHON=/path/to/python-with-ziglang ...
#
# TRIPLE is zig's: x86_64-linux-gnu.2.17 (glibc 2.17 and newer),
# x86-linux-gnu.2.17, arm-linux-gnueabihf.2.17, arm-linux-musleabihf.
# SANDRIG_ZIG_CPU, if set, is the CPU the code may assume (zig's -mcpu);
# unset, it is the baseline of the Debian architecture: the plain i686 on
# 32-bit x86, ARMv7-A with VFPv3-D16 and without NEON on ARM (zig's own
# baselines assume SSE2 and NEON), zig's baseline elsewhere.
# SANDRIG_ZIG_PYTHON is an interpreter with the `ziglang` package installed.
# SANDRIG_ZIG_CACHE, if set, is zig's cache shared between builds (it holds
# libc++ built once per target and CPU); unset, the build tree has its own.
# The compiler, archiver and ranlib are small wrapper scripts written into
# the build tree.
if(NOT SANDRIG_ZIG_TARGET)
  message(FATAL_ERROR "cmake/zig.cmake needs SANDRIG_ZIG_TARGET")
endif()
# try_compile projects re-read this file: they get the target, not the
# interpreter, and inherit the compilers chosen below.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES SANDRIG_ZIG_TARGET)

set(CMAKE_SYSTEM_NAME Linux)
string(REGEX MATCH "^[^-]+" zig_arch "${SANDRIG_ZIG_TARGET}")
if(zig_arch STREQUAL "x86")
  set(CMAKE_SYSTEM_PROCESSOR i686)
else()
  set(CMAKE_SYSTEM_PROCESSOR ${zig_arch})
endif()

if(NOT SANDRIG_ZIG_CPU)
  if(zig_arch STREQUAL "x86")
    set(SANDRIG_ZIG_CPU i686)
  elseif(zig_arch STREQUAL "arm")
    set(SANDRIG_ZIG_CPU generic+v7a+vfp3d16+thumb2-neon)
  endif()
endif()

if(SANDRIG_ZIG_PYTHON)
  set(zig_bin ${CMAKE_BINARY_DIR}/zig-bin)
  if(SANDRIG_ZIG_CACHE)
    set(zig_cache ${SANDRIG_ZIG_CACHE})
  else()
    set(zig_cache ${CMAKE_BINARY_DIR}/zig-cache)
  endif()
  foreach(tool cc c++ ar ranlib)
    if(tool STREQUAL "cc" OR tool STREQUAL "c++")
      set(target_flag "-target ${SANDRIG_ZIG_TARGET}")
      if(SANDRIG_ZIG_CPU)
        string(APPEND target_flag " -mcpu=${SANDRIG_ZIG_CPU}")
      endif()
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
  # zig's archiver is LLVM's, which also indexes the bitcode objects of a
  # build optimised across files.
  foreach(lang C CXX)
    set(CMAKE_${lang}_COMPILER_AR ${zig_bin}/ar CACHE FILEPATH "Archiver" FORCE)
    set(CMAKE_${lang}_COMPILER_RANLIB ${zig_bin}/ranlib CACHE FILEPATH "Ranlib" FORCE)
  endforeach()
  set(CMAKE_AR ${zig_bin}/ar CACHE FILEPATH "Archiver" FORCE)
  set(CMAKE_RANLIB ${zig_bin}/ranlib CACHE FILEPATH "Ranlib" FORCE)
endif()

set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
