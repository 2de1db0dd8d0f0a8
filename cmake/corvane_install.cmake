# What `cmake --install` and `cpack -G DEB` put on a system: the programs, libftdev with its
# header, pkg-config module and CMake package, the udev rules, the manual pages and the README.
#
# The documentation folder is named after the Debian package rather than the CMake project.
set(CMAKE_INSTALL_DOCDIR "share/doc/corvane-usb-loader" CACHE PATH "Documentation (README)")
include(GNUInstallDirs)
# <prefix>/lib, not the library folder: udev reads /usr/lib/udev/rules.d on every architecture.
set(CORVANE_INSTALL_UDEVRULESDIR "lib/udev/rules.d" CACHE PATH "udev rules, relative to the prefix")

install(TARGETS corvane-loader RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
if(TARGET corvane-sim)
  install(TARGETS corvane-sim RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
endif()

target_include_directories(ftdev PUBLIC $<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}>)
install(TARGETS ftdev EXPORT ftdevTargets
        RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
        LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
        ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR})
install(FILES ${PROJECT_SOURCE_DIR}/include/ftdev.h DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})

# find_package(ftdev) gives ftdev::ftdev.
set(corvane_cmake_package_dir ${CMAKE_INSTALL_LIBDIR}/cmake/ftdev)
install(EXPORT ftdevTargets NAMESPACE ftdev:: DESTINATION ${corvane_cmake_package_dir})
include(CMakePackageConfigHelpers)
write_basic_package_version_file(${PROJECT_BINARY_DIR}/ftdevConfigVersion.cmake
                                 VERSION ${PROJECT_VERSION} COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_SOURCE_DIR}/cmake/ftdevConfig.cmake ${PROJECT_BINARY_DIR}/ftdevConfigVersion.cmake
        DESTINATION ${corvane_cmake_package_dir})

# ftdev.pc names the prefix the files are installed under, which `cmake --install --prefix`
# and cpack choose only when they install: it is written then.
foreach(kind LIBDIR INCLUDEDIR)
  if(IS_ABSOLUTE "${CMAKE_INSTALL_${kind}}")
    set(corvane_pc_${kind} "${CMAKE_INSTALL_${kind}}")
  else()
    set(corvane_pc_${kind} "\${prefix}/${CMAKE_INSTALL_${kind}}")
  endif()
endforeach()
install(CODE "
  set(FTDEV_PC_VERSION ${PROJECT_VERSION})
  set(FTDEV_PC_LIBDIR [[${corvane_pc_LIBDIR}]])
  set(FTDEV_PC_INCLUDEDIR [[${corvane_pc_INCLUDEDIR}]])
  configure_file([[${PROJECT_SOURCE_DIR}/cmake/ftdev.pc.in]] [[${PROJECT_BINARY_DIR}/ftdev.pc]] @ONLY)
")
install(FILES ${PROJECT_BINARY_DIR}/ftdev.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)

if(NOT WIN32)
  install(FILES ${PROJECT_SOURCE_DIR}/doc/corvane-loader.1 ${PROJECT_SOURCE_DIR}/doc/corvane-sim.1
          DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endif()
if(CMAKE_SYSTEM_NAME STREQUAL "Linux")
  install(FILES ${PROJECT_SOURCE_DIR}/contrib/60-corvane.rules DESTINATION ${CORVANE_INSTALL_UDEVRULESDIR})
endif()
install(FILES ${PROJECT_SOURCE_DIR}/README.md DESTINATION ${CMAKE_INSTALL_DOCDIR})

# cpack -G DEB: one package with all of the above under /usr.
set(CPACK_PACKAGE_NAME corvane-usb-loader)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "Corvane USB Loader developers")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "loader for the Corvane N64 development cartridge over USB")
set(CPACK_PACKAGE_DESCRIPTION
    "corvane-loader loads ROM images into the cartridge's SDRAM, dumps SDRAM to files,\n"
    "sets the save type and rewrites the bootloader and the FPGA configuration. libftdev\n"
    "is the device and EEPROM library under it, with its header, pkg-config module and\n"
    "CMake package. corvane-sim serves virtual devices for trying the loader without\n"
    "hardware.")
string(CONCAT CPACK_PACKAGE_DESCRIPTION ${CPACK_PACKAGE_DESCRIPTION})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
if(CMAKE_SYSTEM_NAME STREQUAL "Linux")
  set(CPACK_GENERATOR DEB)
endif()
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
find_program(CORVANE_DPKG_SHLIBDEPS dpkg-shlibdeps)
if(CORVANE_DPKG_SHLIBDEPS)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
else()
  # What dpkg-shlibdeps finds on Debian 12, for machines without it (package dpkg-dev).
  set(CPACK_DEBIAN_PACKAGE_DEPENDS "libc6 (>= 2.34), libgcc-s1 (>= 3.0), libstdc++6 (>= 12)")
  if(CORVANE_WITH_LIBUSB)
    string(APPEND CPACK_DEBIAN_PACKAGE_DEPENDS ", libusb-1.0-0 (>= 2:1.0.21)")
  endif()
endif()
# shlibs for libftdev; the ldconfig trigger stands in for the ldconfig call that cpack
# writes only into scripts of its own.
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${PROJECT_SOURCE_DIR}/cmake/debian/postinst
    ${PROJECT_SOURCE_DIR}/cmake/debian/postrm ${PROJECT_SOURCE_DIR}/cmake/debian/triggers)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)
