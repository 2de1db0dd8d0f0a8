# corvane_static_library(NAME sources...): the static library of one folder, with the
# project root (internal headers by folder) and include/ (ftdev.h) on its include path.
function(corvane_static_library name)
  set(sources ${ARGN})
  if(NOT sources)
    # A folder whose sources have not been written yet still configures.
    set(stub ${CMAKE_CURRENT_BINARY_DIR}/${name}_empty.cpp)
    file(WRITE ${stub} "namespace { [[maybe_unused]] int ${name}_empty; }\n")
    set(sources ${stub})
  endif()
  add_library(${name} STATIC ${sources})
  target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR} ${PROJECT_SOURCE_DIR}/include)
  target_link_libraries(${name} PUBLIC Threads::Threads)
endfunction()
