# find_package(ftdev): the shared library libftdev as the target ftdev::ftdev (header ftdev.h).
include("${CMAKE_CURRENT_LIST_DIR}/ftdevTargets.cmake")
