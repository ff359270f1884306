# The Debian package (scripts/package runs cpack on a built tree): the
# application directory as `cmake --install` lays it out in /opt/pelorin, the
# systemd unit that `pelorind /INSTALL` would write for it, and the maintainer
# scripts that make the account and hand it the data. What only the package
# carries is in the component "deb", which a plain `cmake --install` leaves out.

set(PELORIN_DEB_DIR ${CMAKE_SOURCE_DIR}/deb)
set(PELORIN_DEB_APP_DIR /opt/pelorin)
set(PELORIN_DEB_UNIT ${CMAKE_BINARY_DIR}/deb/PelorinService.service)

add_executable(pelorin_write_unit ${PELORIN_DEB_DIR}/write_unit.cpp)
target_link_libraries(pelorin_write_unit PRIVATE pelorin_app)
add_custom_command(OUTPUT ${PELORIN_DEB_UNIT}
  COMMAND pelorin_write_unit ${PELORIN_DEB_APP_DIR}/pelorind ${PELORIN_DEB_UNIT}
  DEPENDS pelorin_write_unit
  COMMENT "Writing the package's systemd unit")
add_custom_target(pelorin_deb_unit ALL DEPENDS ${PELORIN_DEB_UNIT})

install(FILES ${PELORIN_DEB_UNIT} DESTINATION /lib/systemd/system COMPONENT deb EXCLUDE_FROM_ALL)
install(FILES ${PELORIN_DEB_DIR}/copyright ${CMAKE_SOURCE_DIR}/README.md
        DESTINATION /usr/share/doc/pelorin COMPONENT deb EXCLUDE_FROM_ALL)
# Written by deb/cpack_config.cmake when cpack runs, with the version it packs.
install(FILES ${CMAKE_BINARY_DIR}/deb/changelog.Debian.gz
        DESTINATION /usr/share/doc/pelorin COMPONENT deb EXCLUDE_FROM_ALL)
install(FILES ${PELORIN_DEB_DIR}/lintian-overrides RENAME pelorin
        DESTINATION /usr/share/lintian/overrides COMPONENT deb EXCLUDE_FROM_ALL)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME pelorin)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "Pelorin maintainers <maintainers@pelorin.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "multi-user address book service with web pages and CardDAV")
# The text below the summary; cpack indents it and marks the empty line.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "Pelorin keeps the address cards, the user accounts and the configuration of
many users in one process, answers HTTP (and HTTPS) with Basic
authentication, renders its pages through XSLT stylesheets, imports and
exports vCard files and serves address books to phones and desktop programs
over CardDAV.

The service runs as its own unprivileged account in a systemd sandbox and
keeps its stores, journal and logs in /opt/pelorin.")
set(CPACK_DEBIAN_PACKAGE_RELEASE 1)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# The libraries come from dpkg-shlibdeps; postinst makes the account with
# adduser (deb-systemd-helper is in an essential package).
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS adduser)
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
    ${PELORIN_DEB_DIR}/postinst ${PELORIN_DEB_DIR}/prerm ${PELORIN_DEB_DIR}/postrm)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_STRIP_FILES ON)
# pelorind and app/ go where `cmake --install` puts them by default; the
# component "deb" names its absolute places itself.
set(CPACK_PACKAGING_INSTALL_PREFIX ${PELORIN_DEB_APP_DIR})
set(CPACK_SET_DESTDIR ON)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_GROUPING ALL_COMPONENTS_IN_ONE)
set(CPACK_COMPONENTS_ALL Unspecified deb)
set(CPACK_PROJECT_CONFIG_FILE ${PELORIN_DEB_DIR}/cpack_config.cmake)
# cpack hands only CPACK_ variables on to deb/cpack_config.cmake.
set(CPACK_PELORIN_CHANGELOG_DIR ${CMAKE_BINARY_DIR}/deb)
include(CPack)
