# The Debian package: `cpack -G DEB` in a build folder makes
# tarvik2_<version>_amd64.deb of what `cmake --install` puts in place, its
# run-time dependencies computed from the programs' libraries (dpkg-shlibdeps).

set(TARVIK_PACKAGE_CONTACT "The Tarvik 2 developers <maintainers@users.noreply.c-seed-581be96a.example>"
    CACHE STRING "Maintainer of the Debian package")

# What Debian wants beside the programs: the copyright file and a changelog,
# compressed without name or time so the same input gives the same package.
find_program(GZIP gzip REQUIRED)
set(TARVIK_DOC_DIR ${CMAKE_INSTALL_DATADIR}/doc/${PROJECT_NAME})
set(changelog ${CMAKE_BINARY_DIR}/packaging/changelog)
configure_file(${PROJECT_SOURCE_DIR}/packaging/changelog.in ${changelog} @ONLY)
add_custom_command(
  OUTPUT ${changelog}.gz
  COMMAND ${GZIP} -9nc ${changelog} > ${changelog}.gz
  DEPENDS ${changelog}
  COMMENT "Package changelog")
add_custom_target(package_changelog ALL DEPENDS ${changelog}.gz)
install(FILES ${PROJECT_SOURCE_DIR}/packaging/copyright ${changelog}.gz DESTINATION ${TARVIK_DOC_DIR})

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME ${PROJECT_NAME})
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT ${TARVIK_PACKAGE_CONTACT})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION comm)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The first line is the summary; CPack indents the others and marks the empty one.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "test terminal for serial lines
Tarvik 2 opens one window in which you pick a serial port, its parity and
its baud rate, open it with Start, type a command line in a small byte
notation and send it with Send, once or on a timer; every block of bytes
that arrives becomes one line of a receive log.

tarvik2-run sends the same notation from a saved history or a Lua script
without a window and reports response times; tarvik-sim is a device on a
pseudo-terminal to try both without hardware.")
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
include(CPack)
