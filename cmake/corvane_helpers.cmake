# corvane_static_library(NAME sources...): the static library corvane_NAME of one folder, as
# corvane::NAME, with the project root (internal headers by folder) and include/ (ftdev.h)
# on its include path.
function(corvane_static_library name)
  add_library(corvane_${name} STATIC ${ARGN})
  add_library(corvane::${name} ALIAS corvane_${name})
  target_include_directories(corvane_${name} PUBLIC ${PROJECT_SOURCE_DIR} ${PROJECT_SOURCE_DIR}/include)
  target_link_libraries(corvane_${name} PUBLIC Threads::Threads)
endfunction()

# corvane_link_whole(TARGET libraries...): links every object of the given corvane::
# libraries into TARGET, referenced or not (what a library of exported functions needs),
# ahead of anything that pulls single members; they follow once more for their own
# dependencies.
function(corvane_link_whole target)
  set(archives)
  set(real_targets)
  foreach(library IN LISTS ARGN)
    get_target_property(real ${library} ALIASED_TARGET)
    list(APPEND archives $<TARGET_FILE:${real}>)
    list(APPEND real_targets ${real})
  endforeach()
  target_link_libraries(${target} PRIVATE -Wl,--whole-archive ${archives} -Wl,--no-whole-archive ${ARGN})
  add_dependencies(${target} ${real_targets})
endfunction()
