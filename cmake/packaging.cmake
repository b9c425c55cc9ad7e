# Install rules for the documents, and the packages. `cmake --install build
# --prefix DIR` installs the programs into DIR/bin, the manual pages into
# DIR/share/man/man1, the README with the sample files into
# DIR/share/doc/lagscan and the library as cmake/install_library.cmake says;
# `cpack` in a build folder makes the Debian packages and a .tar.gz there, or
# a .zip in the Windows build.
#
# Every install rule names one of these components, and each component is one
# Debian package (see lagscan_debian_package below):
#
#   programs      lagscan          the two programs, their manual pages, the README
#   library       liblagscan0      the shared library, named for its SONAME
#   development   liblagscan-dev   headers, the .so link, the static library,
#                                  the CMake package and lagscan.pc
#   python        python3-lagscan  the Python module (python/), where it is built
#
# The archives (.tar.gz, .zip) hold all components in one tree.

include(cmake/install_library.cmake)

if(WIN32)
  # A Windows user unpacks the .zip and finds the README and the licence
  # beside bin/.
  install(FILES README.md LICENSE DESTINATION . COMPONENT programs)
  install(DIRECTORY docs/ DESTINATION docs COMPONENT programs)
  install(DIRECTORY examples/ DESTINATION examples COMPONENT programs)
else()
  install(FILES README.md DESTINATION ${CMAKE_INSTALL_DOCDIR} COMPONENT programs)
  install(DIRECTORY docs/ DESTINATION ${CMAKE_INSTALL_DOCDIR}/docs COMPONENT programs)
  # The sample files go with the programs; the consumer project and the
  # library's page are for those who build against the library.
  install(DIRECTORY examples/ DESTINATION ${CMAKE_INSTALL_DOCDIR}/examples COMPONENT programs
          PATTERN consumer EXCLUDE)
  install(DIRECTORY examples/consumer DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/liblagscan-dev/examples
          COMPONENT development)
  install(FILES docs/library.md DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/liblagscan-dev
          COMPONENT development)

  # Debian keeps manual pages and changelogs compressed; gzip -n leaves no
  # time stamp, so the same sources give the same package.
  find_program(LAGSCAN_GZIP gzip REQUIRED)
  set(packaging ${CMAKE_BINARY_DIR}/packaging)
  set(compressed "")
  foreach(source IN ITEMS app/lagscan.1 tools/lagscan-matrix/lagscan-matrix.1 cmake/debian/changelog)
    get_filename_component(name ${source} NAME)
    configure_file(${source} ${packaging}/${name} @ONLY)
    add_custom_command(OUTPUT ${packaging}/${name}.gz
                       COMMAND ${LAGSCAN_GZIP} -9nfk ${name}
                       DEPENDS ${packaging}/${name}
                       WORKING_DIRECTORY ${packaging})
    list(APPEND compressed ${packaging}/${name}.gz)
  endforeach()
  add_custom_target(lagscan_documents ALL DEPENDS ${compressed})
  install(FILES ${packaging}/lagscan.1.gz ${packaging}/lagscan-matrix.1.gz
          DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT programs)
endif()

set(CPACK_PACKAGE_NAME lagscan)
set(CPACK_PACKAGE_VENDOR "the lagscan developers")
set(CPACK_PACKAGE_CONTACT "lagscan developers <maintainers@users.noreply.c-seed-3e985dd4.example>")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_RESOURCE_FILE_README ${CMAKE_SOURCE_DIR}/README.md)
set(CPACK_RESOURCE_FILE_LICENSE ${CMAKE_SOURCE_DIR}/LICENSE)
set(CPACK_PACKAGE_CHECKSUM SHA256)
set(CPACK_STRIP_FILES ON)
set(CPACK_COMPONENTS_ALL "")
set(lagscan_debian_packages "")

# lagscan_debian_package(COMPONENT NAME
#                        DESCRIPTION summary [paragraph...]
#                        [SECTION section] [DEPENDS package...] [SUGGESTS package...]
#                        [SHARED_LIBRARY])
#
# Makes install component COMPONENT the Debian package NAME: the first line
# of the description is the package's summary, each further argument a
# paragraph. DEPENDS adds to the dependencies dpkg-shlibdeps finds in the
# binaries; a package declared before by this macro is named with (= its
# version), so that the packages of one build go together. SHARED_LIBRARY gives the package
# a shlibs file (programs built against it depend on at least this version)
# and an ldconfig trigger. Every package carries its own copyright file (the
# MIT licence, "Expat" in Debian's terms) and changelog, as Debian wants. It must be called from the top folder, before
# include(CPack), as CPack reads these variables there.
macro(lagscan_debian_package component name)
  cmake_parse_arguments(package "SHARED_LIBRARY" "SECTION" "DESCRIPTION;DEPENDS;SUGGESTS" ${ARGN})
  string(TOUPPER ${component} package_variable)
  list(APPEND CPACK_COMPONENTS_ALL ${component})
  list(APPEND lagscan_debian_packages ${name})
  set(CPACK_DEBIAN_${package_variable}_PACKAGE_NAME ${name})
  list(POP_FRONT package_DESCRIPTION package_summary)
  list(JOIN package_DESCRIPTION "\n.\n" package_paragraphs)
  set(CPACK_DEBIAN_${package_variable}_DESCRIPTION "${package_summary}\n${package_paragraphs}")
  if(package_SECTION)
    set(CPACK_DEBIAN_${package_variable}_PACKAGE_SECTION ${package_SECTION})
  endif()
  set(package_depends "")
  foreach(dependency IN LISTS package_DEPENDS)
    if(dependency IN_LIST lagscan_debian_packages)
      string(APPEND dependency " (= ${PROJECT_VERSION})")
    endif()
    list(APPEND package_depends "${dependency}")
  endforeach()
  list(JOIN package_depends ", " CPACK_DEBIAN_${package_variable}_PACKAGE_DEPENDS)
  list(JOIN package_SUGGESTS ", " CPACK_DEBIAN_${package_variable}_PACKAGE_SUGGESTS)
  if(package_SHARED_LIBRARY)
    # The ldconfig trigger refreshes the loader's cache. CPack would also
    # write a postinst and postrm calling ldconfig themselves, which Debian's
    # policy asks packages not to do; naming those scripts among the extra
    # control files stops it, and as no such files exist none is added
    # (CPack says so, as "Adding file to tar:" with no name).
    set(CPACK_DEBIAN_${package_variable}_PACKAGE_CONTROL_EXTRA
        ${CMAKE_SOURCE_DIR}/cmake/debian/shared-library/triggers
        ${CMAKE_SOURCE_DIR}/cmake/debian/shared-library/none/postinst
        ${CMAKE_SOURCE_DIR}/cmake/debian/shared-library/none/postrm)
  endif()
  if(NOT WIN32)
    install(FILES cmake/debian/copyright ${CMAKE_BINARY_DIR}/packaging/changelog.gz
            DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/${name} COMPONENT ${component})
  endif()
endmacro()

lagscan_debian_package(programs lagscan
  SECTION science
  DESCRIPTION
    "how alike sampled signals are, over a window of lags"
    "lagscan reads two text files of x y pairs and prints a normalised,
triangle-weighted sum of the lagged cross-products of their y values, to
the same bits on every machine. lagscan-matrix computes the same value for
all pairs of a set of files, or for one reference against many, on every
core.")

# The paragraph that the library's packages share, as Debian's split
# packages do, before each one's own.
set(library_description
    "The library behind lagscan: the triangle-weighted lagged
cross-correlation of two sequences, to the same bits as the lagscan
program, its per-lag profile, the data file loader, and all pairs of many
sequences at once, exact or through window sums, on several threads.")

if(NOT WIN32)
  lagscan_debian_package(library liblagscan0
    SECTION libs
    SHARED_LIBRARY
    DESCRIPTION
      "lagged cross-correlation of sampled signals - shared library"
      "${library_description}"
      "This package holds the shared library.")
endif()

# Linking the static library needs OpenBLAS's link library as well.
lagscan_debian_package(development liblagscan-dev
  SECTION libdevel
  DEPENDS liblagscan0
  SUGGESTS libopenblas-openmp-dev
  DESCRIPTION
    "lagged cross-correlation of sampled signals - development files"
    "${library_description}"
    "This package holds the C++ headers, the static library, the CMake
package (find_package(lagscan)), the pkg-config file and an example
project.")

if(TARGET lagscan_python)
  # As Debian's own extension modules depend on the interpreter: the version
  # the module was built for, and no later one.
  string(REPLACE "." ";" python_version_parts ${lagscan_python_version})
  list(GET python_version_parts 0 python_major)
  list(GET python_version_parts 1 python_minor)
  math(EXPR python_next_minor "${python_minor} + 1")
  lagscan_debian_package(python python3-lagscan
    SECTION python
    DEPENDS liblagscan0 python3-numpy "python3 (>= ${lagscan_python_version}~)"
            "python3 (<< ${python_major}.${python_next_minor})"
    DESCRIPTION
      "lagged cross-correlation of sampled signals - Python 3 module"
      "${library_description}"
      "This package holds the module lagscan for Python 3, on numpy arrays.")
  # dpkg-shlibdeps finds liblagscan.so.0 in the build (its dependency is
  # liblagscan0 of the same build, named above).
  get_target_property(shared_library_dir lagscan_shared BINARY_DIR)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${shared_library_dir})
endif()

if(WIN32)
  set(CPACK_GENERATOR ZIP)
  set(CPACK_SYSTEM_NAME windows-x86_64)
  set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
else()
  set(CPACK_GENERATOR "DEB;TGZ")
  # One .deb per component; one .tar.gz of everything.
  set(CPACK_DEB_COMPONENT_INSTALL ON)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
  # The dependencies on other libraries come from the binaries' own needs
  # (dpkg-shlibdeps).
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  # A shlibs file for each package that holds a shared library (CPack has no
  # per-package switch; the others have none to list). Programs built against
  # this version run with any later one of the same SONAME.
  set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
  set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS_POLICY ">=")
endif()
include(CPack)
