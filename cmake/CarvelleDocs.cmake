# SPDX-License-Identifier: MIT
# Reference pages from the comments of include/gds_api.h: the target `docs`
# writes man pages (section 3) and Doxygen's XML (for the site's C
# reference) to <build>/docs; `make docs` then builds the site
# (scripts/build-site).
# With CARVELLE_BUILD_DOCS the pages are built with the library and the man
# pages are installed with the development files.
option(CARVELLE_BUILD_DOCS "Build the reference pages with the library and install the man pages" OFF)
find_package(Doxygen QUIET)
if(NOT DOXYGEN_FOUND)
  if(CARVELLE_BUILD_DOCS)
    message(FATAL_ERROR "CARVELLE_BUILD_DOCS needs Doxygen (scripts/install-deps doxygen)")
  endif()
  return()
endif()

set(CARVELLE_DOCS_DIR ${PROJECT_BINARY_DIR}/docs)
configure_file(${PROJECT_SOURCE_DIR}/docs/reference/Doxyfile.in ${PROJECT_BINARY_DIR}/Doxyfile @ONLY)
# The C++ layer's XML, for the site only (no man pages).
configure_file(${PROJECT_SOURCE_DIR}/docs/reference/Doxyfile-cpp.in ${PROJECT_BINARY_DIR}/Doxyfile-cpp @ONLY)
# Doxygen leaves pages of removed functions behind: start from an empty folder.
add_custom_command(OUTPUT ${CARVELLE_DOCS_DIR}/man/man3/carvelle.3 ${CARVELLE_DOCS_DIR}/xml/index.xml
                   ${CARVELLE_DOCS_DIR}/xml-cpp/index.xml
  COMMAND ${CMAKE_COMMAND} -E rm -rf ${CARVELLE_DOCS_DIR}
  COMMAND Doxygen::doxygen ${PROJECT_BINARY_DIR}/Doxyfile
  COMMAND Doxygen::doxygen ${PROJECT_BINARY_DIR}/Doxyfile-cpp
  DEPENDS ${PROJECT_SOURCE_DIR}/include/gds_api.h ${PROJECT_SOURCE_DIR}/include/carvelle.hpp
          ${PROJECT_SOURCE_DIR}/include/carvelle_merge.hpp ${PROJECT_BINARY_DIR}/Doxyfile ${PROJECT_BINARY_DIR}/Doxyfile-cpp
  COMMENT "Reference pages from gds_api.h, and the C++ layer's XML"
  VERBATIM)
if(CARVELLE_BUILD_DOCS)
  add_custom_target(docs ALL DEPENDS ${CARVELLE_DOCS_DIR}/man/man3/carvelle.3)
  # Debian installs manual pages compressed.
  install(CODE "
    file(GLOB pages \"${CARVELLE_DOCS_DIR}/man/man3/*.3\")
    file(MAKE_DIRECTORY \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_MANDIR}/man3\")
    foreach(page IN LISTS pages)
      get_filename_component(name \"\${page}\" NAME)
      set(target \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_MANDIR}/man3/\${name}.gz\")
      execute_process(COMMAND gzip -9 -n -c \"\${page}\" OUTPUT_FILE \"\${target}\" COMMAND_ERROR_IS_FATAL ANY)
    endforeach()" COMPONENT development)
else()
  add_custom_target(docs DEPENDS ${CARVELLE_DOCS_DIR}/man/man3/carvelle.3)
endif()
