# Install rules and packages. `cmake --install build --prefix DIR` installs
# the programs into DIR/bin, the manual pages into DIR/share/man/man1 and the
# README with the sample files into DIR/share/doc/lagscan; `cpack` in a build
# folder makes a Debian package and a .tar.gz there, or a .zip in the
# Windows build.

if(WIN32)
  # A Windows user unpacks the .zip and finds the README and the licence
  # beside bin/.
  install(FILES README.md LICENSE DESTINATION .)
  install(DIRECTORY docs/ DESTINATION docs)
  install(DIRECTORY examples/ DESTINATION examples)
else()
  install(FILES README.md DESTINATION ${CMAKE_INSTALL_DOCDIR})
  install(DIRECTORY docs/ DESTINATION ${CMAKE_INSTALL_DOCDIR}/docs)
  install(DIRECTORY examples/ DESTINATION ${CMAKE_INSTALL_DOCDIR}/examples)

  # Debian keeps manual pages and changelogs compressed, and its packages
  # carry a copyright file (the MIT licence, "Expat" in Debian's terms); gzip -n leaves no time stamp, so the same
  # sources give the same package.
  find_program(LAGSCAN_GZIP gzip REQUIRED)
  set(compressed "")
  foreach(source IN ITEMS app/lagscan.1 matrix/lagscan-matrix.1 cmake/debian/changelog)
    if(NOT EXISTS ${CMAKE_SOURCE_DIR}/${source})
      continue()
    endif()
    get_filename_component(name ${source} NAME)
    set(packaging ${CMAKE_BINARY_DIR}/packaging)
    configure_file(${source} ${packaging}/${name} @ONLY)
    add_custom_command(OUTPUT ${packaging}/${name}.gz
                       COMMAND ${LAGSCAN_GZIP} -9nfk ${name}
                       DEPENDS ${packaging}/${name}
                       WORKING_DIRECTORY ${packaging})
    list(APPEND compressed ${packaging}/${name}.gz)
    if(name MATCHES "\\.1$")
      install(FILES ${packaging}/${name}.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
    else()
      install(FILES ${packaging}/${name}.gz DESTINATION ${CMAKE_INSTALL_DOCDIR})
    endif()
  endforeach()
  add_custom_target(lagscan_documents ALL DEPENDS ${compressed})
  install(FILES cmake/debian/copyright DESTINATION ${CMAKE_INSTALL_DOCDIR})
endif()

set(CPACK_PACKAGE_NAME lagscan)
set(CPACK_PACKAGE_VENDOR "the lagscan developers")
set(CPACK_PACKAGE_CONTACT "lagscan developers <maintainers@users.noreply.c-seed-3e985dd4.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "how alike sampled signals are, over a window of lags")
set(CPACK_PACKAGE_DESCRIPTION
    "lagscan reads two text files of x y pairs and prints a normalised,
triangle-weighted sum of the lagged cross-products of their y values, to
the same bits on every machine. lagscan-matrix computes the same value for
all pairs of a set of files, or for one reference against many, on every
core.")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_RESOURCE_FILE_README ${CMAKE_SOURCE_DIR}/README.md)
set(CPACK_RESOURCE_FILE_LICENSE ${CMAKE_SOURCE_DIR}/LICENSE)
set(CPACK_PACKAGE_CHECKSUM SHA256)
set(CPACK_STRIP_FILES ON)
if(WIN32)
  set(CPACK_GENERATOR ZIP)
  set(CPACK_SYSTEM_NAME windows-x86_64)
  set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
else()
  set(CPACK_GENERATOR "DEB;TGZ")
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_SECTION science)
  set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
  # The dependencies come from the binaries' own needs (dpkg-shlibdeps).
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
endif()
include(CPack)
