# SPDX-License-Identifier: MIT
# Debian packages and the source tarball (`make package`, scripts/package).
# One install component per binary package; a component with no files yet
# (the tools before they exist) makes no package.

# component | package | section | summary
set(CARVELLE_DEB_PACKAGES
  "runtime|libcarvelle1|libs|shared library"
  "development|libcarvelle-dev|libdevel|development files and man pages"
  "tools|carvelle-tools|utils|command-line tools")
set(CARVELLE_PACKAGE_CONTACT "Carvelle maintainers <maintainers@carvelle.invalid>"
  CACHE STRING "Maintainer field of the Debian packages")

set(CPACK_PACKAGE_NAME carvelle)
set(CPACK_PACKAGE_VENDOR "The Carvelle authors")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT ${CARVELLE_PACKAGE_CONTACT})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Streaming GDSII writer with a plain C ABI")
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_STRIP_FILES ON)

set(CPACK_GENERATOR DEB)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS_POLICY ">=")
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CARVELLE_DEB_DESCRIPTION "Carvelle writes integrated-circuit layouts in the GDSII stream format\n\
through nineteen plain C functions, streaming each element to the file\nat once.")
# The tools link the shared library of the same build.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${PROJECT_BINARY_DIR})
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_DEPENDS "libcarvelle1 (= ${PROJECT_VERSION})")
set(CPACK_DEBIAN_TOOLS_PACKAGE_DEPENDS "libcarvelle1 (= ${PROJECT_VERSION})")

# Every Debian package carries the license as its copyright file and a
# changelog; the shared library also asks for ldconfig. (CPack adds a
# postinst that runs it too: lintian's maintscript-calls-ldconfig is kept.)
# Hosts without gzip (MSVC) get no packaging.
find_program(CARVELLE_GZIP gzip)
if(NOT CARVELLE_GZIP)
  return()
endif()
# Dated to the day, so that a new configure does not rebuild it every time.
string(TIMESTAMP CARVELLE_PACKAGE_DATE "%a, %d %b %Y 00:00:00 +0000" UTC)
set(CARVELLE_DEB_CHANGELOG ${PROJECT_BINARY_DIR}/debian/changelog)
file(CONFIGURE OUTPUT ${CARVELLE_DEB_CHANGELOG} CONTENT "carvelle (${PROJECT_VERSION}) unstable; urgency=medium

  * Release ${PROJECT_VERSION}; the changes are listed in CHANGELOG.md of the source.

 -- ${CARVELLE_PACKAGE_CONTACT}  ${CARVELLE_PACKAGE_DATE}
")
add_custom_command(OUTPUT ${CARVELLE_DEB_CHANGELOG}.gz
  COMMAND ${CARVELLE_GZIP} -9 -n -k -f ${CARVELLE_DEB_CHANGELOG}
  DEPENDS ${CARVELLE_DEB_CHANGELOG})
add_custom_target(carvelle_deb_changelog ALL DEPENDS ${CARVELLE_DEB_CHANGELOG}.gz)
file(WRITE ${PROJECT_BINARY_DIR}/debian/triggers "activate-noawait ldconfig\n")
set(CPACK_DEBIAN_RUNTIME_PACKAGE_CONTROL_EXTRA ${PROJECT_BINARY_DIR}/debian/triggers)

get_cmake_property(_carvelle_components COMPONENTS)
set(CPACK_COMPONENTS_ALL)
foreach(_entry IN LISTS CARVELLE_DEB_PACKAGES)
  string(REPLACE "|" ";" _fields "${_entry}")
  list(GET _fields 0 _component)
  list(GET _fields 1 _package)
  list(GET _fields 2 _section)
  list(GET _fields 3 _summary)
  if(NOT _component IN_LIST _carvelle_components)
    continue()
  endif()
  list(APPEND CPACK_COMPONENTS_ALL ${_component})
  string(TOUPPER ${_component} _upper)
  set(CPACK_DEBIAN_${_upper}_PACKAGE_NAME ${_package})
  set(CPACK_DEBIAN_${_upper}_PACKAGE_SECTION ${_section})
  set(CPACK_DEBIAN_${_upper}_DESCRIPTION "${CARVELLE_DEB_DESCRIPTION}\n.\nThis package holds the ${_summary}.")
  # Only in the packages (installs of one component), not in a plain install.
  install(FILES ${PROJECT_SOURCE_DIR}/LICENSE DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/${_package}
    RENAME copyright COMPONENT ${_component} EXCLUDE_FROM_ALL)
  install(FILES ${CARVELLE_DEB_CHANGELOG}.gz DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/${_package}
    RENAME changelog.gz COMPONENT ${_component} EXCLUDE_FROM_ALL)
endforeach()

set(CPACK_SOURCE_GENERATOR TGZ)
set(CPACK_SOURCE_PACKAGE_FILE_NAME carvelle-${PROJECT_VERSION})
# The patterns match whole paths: anchor them at the source folder, which may
# itself lie under a folder named build.
string(REGEX REPLACE "([][+.*?()^$|\\])" "\\\\\\1" _source_regex "${PROJECT_SOURCE_DIR}")
set(CPACK_SOURCE_IGNORE_FILES "^${_source_regex}/\\.git" "^${_source_regex}/build[^/]*/"
  "^${_source_regex}/carvelle-bench-" "/__pycache__/" "\\.pyc$" "\\.gds$")
include(CPack)
