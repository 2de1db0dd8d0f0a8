# Shared by the two MinGW-w64 toolchain files, which set corvane_mingw_triplet first.
# The -posix compilers are the posix thread model (winpthreads): std::thread and
# std::mutex need it with GCC 12. Without the suffixed names, the plain ones are tried.
foreach(corvane_language C CXX)
  if(corvane_language STREQUAL C)
    set(corvane_driver gcc)
  else()
    set(corvane_driver g++)
  endif()
  find_program(corvane_mingw_${corvane_language}
               NAMES ${corvane_mingw_triplet}-${corvane_driver}-posix ${corvane_mingw_triplet}-${corvane_driver}
               REQUIRED)
  set(CMAKE_${corvane_language}_COMPILER ${corvane_mingw_${corvane_language}})
endforeach()
find_program(CMAKE_RC_COMPILER NAMES ${corvane_mingw_triplet}-windres)
find_program(CMAKE_DLLTOOL NAMES ${corvane_mingw_triplet}-dlltool)

set(CMAKE_FIND_ROOT_PATH /usr/${corvane_mingw_triplet})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# The programs and the DLL carry the compiler's runtime (libstdc++, libgcc, winpthreads)
# inside them, so a Windows user needs no MinGW DLLs beside them.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static")
