# Cross build for 64-bit Windows with Debian's MinGW-w64 compilers:
#   cmake -S . -B build/win64 -G Ninja --toolchain cmake/toolchains/mingw-w64-x86_64.cmake
# The posix thread model, because the libraries use std::thread and std::mutex and the
# win32 model of GCC 12 has neither.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(corvane_mingw_triplet x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64-common.cmake)
