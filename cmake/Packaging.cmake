# Installation and the Debian package: the program, its desktop entry, icon,
# AppStream metainfo and manual pages, and the package's copyright and
# changelog.  Only the "tarvelo" component goes into the package, whatever
# else the build installs.
include(GNUInstallDirs)

set(TARVELO_PACKAGING_DIR ${CMAKE_SOURCE_DIR}/src/app/packaging)
set(TARVELO_MAINTAINER "The Tarvelo developers <equipo@tarvelo.org>"
    CACHE STRING "Maintainer field and contact of the Debian package")

install(TARGETS tarvelo RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT tarvelo)
install(FILES ${TARVELO_PACKAGING_DIR}/tarvelo.desktop
        DESTINATION ${CMAKE_INSTALL_DATADIR}/applications COMPONENT tarvelo)
install(FILES ${TARVELO_PACKAGING_DIR}/tarvelo.svg
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps COMPONENT tarvelo)
install(FILES ${TARVELO_PACKAGING_DIR}/org.tarvelo.Tarvelo.metainfo.xml
        DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo COMPONENT tarvelo)
install(FILES ${TARVELO_PACKAGING_DIR}/copyright
        DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/tarvelo COMPONENT tarvelo)

# Compressed as Debian wants them: maximum compression, no name or time
# stamp inside, so the package is the same whenever it is built.
function(tarvelo_gzip source output)
  add_custom_command(OUTPUT ${output}
                     COMMAND gzip -9 -n -c ${source} > ${output}
                     DEPENDS ${source} VERBATIM)
endfunction()
set(gz ${CMAKE_CURRENT_BINARY_DIR}/packaging)
file(MAKE_DIRECTORY ${gz}/es)
tarvelo_gzip(${TARVELO_PACKAGING_DIR}/changelog ${gz}/changelog.gz)
tarvelo_gzip(${TARVELO_PACKAGING_DIR}/tarvelo.en.1 ${gz}/tarvelo.1.gz)
tarvelo_gzip(${TARVELO_PACKAGING_DIR}/tarvelo.1 ${gz}/es/tarvelo.1.gz)
add_custom_target(tarvelo_docs DEPENDS ${gz}/changelog.gz ${gz}/tarvelo.1.gz ${gz}/es/tarvelo.1.gz)
# Building the program is enough for installing it.
add_dependencies(tarvelo tarvelo_docs)
install(FILES ${gz}/changelog.gz DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/tarvelo COMPONENT tarvelo)
install(FILES ${gz}/tarvelo.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT tarvelo)
install(FILES ${gz}/es/tarvelo.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/es/man1 COMPONENT tarvelo)

set(CPACK_PACKAGE_NAME tarvelo)
set(CPACK_PACKAGE_VENDOR "The Tarvelo developers")
set(CPACK_PACKAGE_CONTACT "${TARVELO_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${TARVELO_MAINTAINER}")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
# CPack indents every line after the first, which is the synopsis.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "removes a database from a SQL Server instance for good
Tarvelo is a small desktop tool with which an administrator removes one
database from a Microsoft SQL Server instance. The administrator types the
server name, a login and its password, loads the names of the server's
databases into a drop-down list, picks one (or types its name) and confirms
a warning; the tool then drops that database.
.
It talks to the server through ODBC with the FreeTDS driver. The program
speaks Spanish.")
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://tarvelo.org/")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_INSTALL_CMAKE_PROJECTS "${CMAKE_BINARY_DIR};Tarvelo;tarvelo;/")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION database)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_STRIP_FILES ON)
# Not linked, but needed at run time: the ODBC driver every connection goes
# through, the Spanish texts of the standard buttons, and faces as narrow as
# the classic dialog font, without which captions are cut.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "tdsodbc, qt6-translations-l10n, fonts-liberation2")
include(CPack)
