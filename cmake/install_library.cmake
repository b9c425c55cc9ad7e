# Install rules of the public library (api/), in GNUInstallDirs' places:
#
#   include/lagscan/*.hpp                     the headers, version.hpp among them
#   LIBDIR/liblagscan.so.0.3.0, .so.0         the shared library (component library)
#   LIBDIR/liblagscan.so, liblagscan.a        the link and the static library
#   LIBDIR/cmake/lagscan/                     find_package(lagscan) (CONFIG mode)
#   LIBDIR/pkgconfig/lagscan.pc               pkg-config
#
# Windows builds the static library only, and has no pkg-config file.
include(CMakePackageConfigHelpers)

set(lagscan_library_targets lagscan_static)
if(TARGET lagscan_shared)
  list(PREPEND lagscan_library_targets lagscan_shared)
endif()
install(TARGETS ${lagscan_library_targets} EXPORT lagscan_targets
        LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT library NAMELINK_COMPONENT development
        ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT development
        RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT library)
install(DIRECTORY include/lagscan DESTINATION ${CMAKE_INSTALL_INCLUDEDIR} COMPONENT development
        FILES_MATCHING PATTERN "*.hpp")
install(FILES ${PROJECT_BINARY_DIR}/include/lagscan/version.hpp
        DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/lagscan COMPONENT development)

# The CMake package. Its paths are relative to its own folder, so the
# installed tree can move.
set(lagscan_cmake_dir ${CMAKE_INSTALL_LIBDIR}/cmake/lagscan)
install(EXPORT lagscan_targets NAMESPACE lagscan:: FILE lagscanTargets.cmake
        DESTINATION ${lagscan_cmake_dir} COMPONENT development)
configure_package_config_file(cmake/lagscanConfig.cmake.in ${PROJECT_BINARY_DIR}/packaging/lagscanConfig.cmake
                              INSTALL_DESTINATION ${lagscan_cmake_dir})
# Until 1.0 a new minor version may change the interface, so 0.3 accepts
# 0.3.x only; from 1.0 on, any later version of the same major one.
if(PROJECT_VERSION_MAJOR EQUAL 0)
  set(lagscan_compatibility SameMinorVersion)
else()
  set(lagscan_compatibility SameMajorVersion)
endif()
write_basic_package_version_file(${PROJECT_BINARY_DIR}/packaging/lagscanConfigVersion.cmake
                                 COMPATIBILITY ${lagscan_compatibility})
install(FILES ${PROJECT_BINARY_DIR}/packaging/lagscanConfig.cmake
              ${PROJECT_BINARY_DIR}/packaging/lagscanConfigVersion.cmake
        DESTINATION ${lagscan_cmake_dir} COMPONENT development)

if(NOT WIN32)
  # pkg-config. Libs.private lists what linking the static library needs
  # (pkg-config --static); the shared library names its own.
  set(lagscan_pc_dir ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
  foreach(kind IN ITEMS libdir includedir)
    string(TOUPPER ${kind} upper)
    if(IS_ABSOLUTE ${CMAKE_INSTALL_${upper}})
      set(lagscan_pc_${kind} ${CMAKE_INSTALL_${upper}})
    else()
      set(lagscan_pc_${kind} "\${prefix}/${CMAKE_INSTALL_${upper}}")
    endif()
  endforeach()
  set(lagscan_pc_libs_private "")
  foreach(library IN LISTS OpenMP_CXX_LIB_NAMES)
    string(APPEND lagscan_pc_libs_private "-l${library} ")
  endforeach()
  string(STRIP "${lagscan_pc_libs_private}" lagscan_pc_libs_private)
  # The prefix is only known when installing (cmake --install --prefix,
  # cpack), so the file is written then, by lagscan_pc.cmake.
  set(lagscan_pc_prefix @lagscan_pc_prefix@)
  configure_file(cmake/lagscan.pc.in ${PROJECT_BINARY_DIR}/packaging/lagscan.pc.in @ONLY)
  cmake_path(RELATIVE_PATH CMAKE_INSTALL_PREFIX BASE_DIRECTORY ${CMAKE_INSTALL_FULL_LIBDIR}/pkgconfig
             OUTPUT_VARIABLE lagscan_pc_up)
  configure_file(cmake/lagscan_pc.cmake.in ${PROJECT_BINARY_DIR}/packaging/lagscan_pc.cmake @ONLY)
  install(SCRIPT ${PROJECT_BINARY_DIR}/packaging/lagscan_pc.cmake COMPONENT development)
endif()
