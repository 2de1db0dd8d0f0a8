# The Windows side of the export list: what cmake/ftdev_exports.map is for ELF targets.
#
# ld exports from a module definition (.def) file, which names every function; it is
# written at configure time from the FTDEV_EXPORT declarations of include/ftdev.h, so the
# header stays the one list. On i686 the functions are __stdcall and their symbols carry
# the argument size ("FT_Open@8"): the .def names them so and --kill-at exports them
# without it, as C callers and GetProcAddress expect.

set(corvane_ftdev_header ${PROJECT_SOURCE_DIR}/include/ftdev.h)
set(corvane_ftdev_def ${PROJECT_BINARY_DIR}/ftdev.def)
set_property(DIRECTORY ${PROJECT_SOURCE_DIR} APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${corvane_ftdev_header})

file(READ ${corvane_ftdev_header} corvane_header_text)
string(REGEX MATCHALL "FTDEV_CALL[ \t\r\n]+FT_[A-Za-z0-9_]+[ \t\r\n]*\\([^)]*\\)" corvane_declarations
       "${corvane_header_text}")
set(corvane_def_text "EXPORTS\n")
set(corvane_export_count 0)
foreach(declaration IN LISTS corvane_declarations)
  string(REGEX REPLACE "^FTDEV_CALL[ \t\r\n]+(FT_[A-Za-z0-9_]+).*$" "\\1" name "${declaration}")
  string(REGEX REPLACE "^[^(]*\\(([^)]*)\\)$" "\\1" parameters "${declaration}")
  string(STRIP "${parameters}" parameters)
  if(CMAKE_SIZEOF_VOID_P EQUAL 4)
    # Every parameter of the interface is a pointer or an integer of at most 32 bits, so
    # each takes 4 bytes of the stack; a wider one would need its own size here.
    if(parameters MATCHES "int64_t|long long|double")
      message(FATAL_ERROR "${name}: a 64-bit parameter; count its 8 bytes in cmake/corvane_windows.cmake")
    endif()
    if(parameters STREQUAL "void" OR parameters STREQUAL "")
      set(stack_bytes 0)
    else()
      string(REGEX REPLACE "[^,]" "" commas "${parameters}")
      string(LENGTH "${commas}" comma_count)
      math(EXPR stack_bytes "(${comma_count} + 1) * 4")
    endif()
    string(APPEND corvane_def_text "    ${name}@${stack_bytes}\n")
  else()
    string(APPEND corvane_def_text "    ${name}\n")
  endif()
  math(EXPR corvane_export_count "${corvane_export_count} + 1")
endforeach()
file(CONFIGURE OUTPUT ${corvane_ftdev_def} CONTENT "${corvane_def_text}")
message(STATUS "ftdev.def: ${corvane_export_count} FT_* functions")

# corvane_export_ft_functions(TARGET): the DLL or program exports exactly the functions of
# ftdev.h, under their plain names.
function(corvane_export_ft_functions target)
  target_link_options(${target} PRIVATE ${corvane_ftdev_def})
  if(CMAKE_SIZEOF_VOID_P EQUAL 4)
    target_link_options(${target} PRIVATE -Wl,--kill-at)
  endif()
  set_property(TARGET ${target} APPEND PROPERTY LINK_DEPENDS ${corvane_ftdev_def})

  get_target_property(type ${target} TYPE)
  if(type STREQUAL "SHARED_LIBRARY" AND CMAKE_SIZEOF_VOID_P EQUAL 4)
    # ld's own import library loses the argument sizes together with the export names, so
    # callers compiled against ftdev.h (which refer to "FT_Open@8") could not link with it.
    # dlltool -k makes one that keeps them in the symbols and imports the plain names.
    if(NOT CMAKE_DLLTOOL)
      message(FATAL_ERROR "dlltool not found: the 32-bit import library needs it")
    endif()
    add_custom_command(TARGET ${target} POST_BUILD
      COMMAND ${CMAKE_DLLTOOL} -k -d ${corvane_ftdev_def} -D $<TARGET_FILE_NAME:${target}>
              -l $<TARGET_LINKER_FILE:${target}>
      VERBATIM)
  endif()
endfunction()
