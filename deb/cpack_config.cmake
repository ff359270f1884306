# Read by cpack before it installs into its staging tree. PELORIN_PACKAGE_VERSION
# in the environment ("1.0.1-2": upstream version, then the package revision)
# packs a build under another version, as an upgrade is made; the changelog the
# package carries names the version it is.
if(DEFINED ENV{PELORIN_PACKAGE_VERSION})
  if(NOT "$ENV{PELORIN_PACKAGE_VERSION}" MATCHES "^([0-9][0-9A-Za-z.+~]*)-([0-9A-Za-z.+~]+)$")
    message(FATAL_ERROR "PELORIN_PACKAGE_VERSION must be UPSTREAM-REVISION, not \"$ENV{PELORIN_PACKAGE_VERSION}\"")
  endif()
  set(CPACK_PACKAGE_VERSION ${CMAKE_MATCH_1})
  set(CPACK_DEBIAN_PACKAGE_VERSION ${CMAKE_MATCH_1})
  set(CPACK_DEBIAN_PACKAGE_RELEASE ${CMAKE_MATCH_2})
endif()

set(version "${CPACK_PACKAGE_VERSION}-${CPACK_DEBIAN_PACKAGE_RELEASE}")
# SOURCE_DATE_EPOCH, when set, makes the date (and so the package) reproducible.
string(TIMESTAMP date "%a, %d %b %Y %H:%M:%S +0000" UTC)
file(MAKE_DIRECTORY "${CPACK_PELORIN_CHANGELOG_DIR}")
file(WRITE "${CPACK_PELORIN_CHANGELOG_DIR}/changelog.Debian"
"pelorin (${version}) unstable; urgency=medium

  * Pelorin ${CPACK_PACKAGE_VERSION}, built from its own tree.

 -- ${CPACK_PACKAGE_CONTACT}  ${date}
")
execute_process(COMMAND gzip -9nf "${CPACK_PELORIN_CHANGELOG_DIR}/changelog.Debian" RESULT_VARIABLE gzip_result)
if(NOT gzip_result EQUAL 0)
  message(FATAL_ERROR "gzip could not compress the changelog")
endif()
