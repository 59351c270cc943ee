# Cross-compiles for 64-bit Windows with clang-19 and lld-19, against Debian's MinGW-w64 headers and
# import libraries. C++ uses the posix variant of MinGW's libstdc++ (GoogleTest needs std::mutex)
# with winpthreads; clang would otherwise pick the win32 variant, which has no std::mutex. Only lld
# writes the Control Flow Guard tables and the CET flag the installer image carries.
# The top-level build runs what it makes under Wine (see cmake/wine-run.sh).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(MINGW_TARGET x86_64-w64-mingw32)
set(CMAKE_C_COMPILER clang-19)
set(CMAKE_C_COMPILER_TARGET ${MINGW_TARGET})
set(CMAKE_CXX_COMPILER clang++-19)
set(CMAKE_CXX_COMPILER_TARGET ${MINGW_TARGET})
set(CMAKE_RC_COMPILER ${MINGW_TARGET}-windres)
set(CMAKE_AR llvm-ar-19)
set(CMAKE_RANLIB llvm-ranlib-19)

set(MINGW_LIBSTDCXX /usr/lib/gcc/${MINGW_TARGET}/12-posix)
# clang-19 reports libstdc++ 12's own use of its deprecated std::get_temporary_buffer (inside
# std::stable_sort) although the header silences it for GCC; nothing of ours is deprecated.
set(CMAKE_CXX_FLAGS_INIT "-nostdinc++ -Wno-deprecated-declarations")
set(CMAKE_CXX_STANDARD_INCLUDE_DIRECTORIES
  ${MINGW_LIBSTDCXX}/include/c++ ${MINGW_LIBSTDCXX}/include/c++/${MINGW_TARGET} ${MINGW_LIBSTDCXX}/include/c++/backward)
set(CMAKE_EXE_LINKER_FLAGS_INIT "-fuse-ld=lld -L${MINGW_LIBSTDCXX}")
set(CMAKE_CXX_STANDARD_LIBRARIES "-lpthread")

set(CMAKE_FIND_ROOT_PATH /usr/${MINGW_TARGET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
