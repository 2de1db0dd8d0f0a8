# corvane_expose(TARGET SCOPE FOLDER): puts on TARGET's include path a folder of the build
# tree that holds FOLDER (a source folder named from the project root, reached through a
# link) and nothing else. Headers are included by folder ("driver/reads.h"), so a library
# shows its users its own headers only, and a file reaches another folder's headers only
# through a library it links.
function(corvane_expose target scope folder)
  set(root ${PROJECT_BINARY_DIR}/exposed/${target})
  get_filename_component(parent ${root}/${folder} DIRECTORY)
  file(MAKE_DIRECTORY ${parent})
  file(REMOVE ${root}/${folder})
  file(CREATE_LINK ${PROJECT_SOURCE_DIR}/${folder} ${root}/${folder} SYMBOLIC)
  target_include_directories(${target} ${scope} ${root})
endfunction()

# corvane_static_library(NAME sources...): the static library corvane_NAME of one folder, as
# corvane::NAME, with its own folder's headers and include/ (ftdev.h) on its users' include
# path. Test support, which may reach every layer, keeps the project root instead.
function(corvane_static_library name)
  add_library(corvane_${name} STATIC ${ARGN})
  add_library(corvane::${name} ALIAS corvane_${name})
  file(RELATIVE_PATH folder ${PROJECT_SOURCE_DIR} ${CMAKE_CURRENT_SOURCE_DIR})
  if(folder MATCHES "^tests(/|$)")
    target_include_directories(corvane_${name} PUBLIC ${PROJECT_SOURCE_DIR})
  else()
    corvane_expose(corvane_${name} PUBLIC ${folder})
  endif()
  target_include_directories(corvane_${name} PUBLIC ${PROJECT_SOURCE_DIR}/include)
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
