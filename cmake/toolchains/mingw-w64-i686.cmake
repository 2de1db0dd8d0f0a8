# Cross build for 32-bit Windows with Debian's MinGW-w64 compilers:
#   cmake -S . -B build/win32 -G Ninja --toolchain cmake/toolchains/mingw-w64-i686.cmake
# The 32-bit build is the one whose records have the documented sizes (pointers of
# 4 bytes), which the sources check at compile time.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86)
set(corvane_mingw_triplet i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64-common.cmake)
