# Installation and the Debian package: the program, its desktop entry and
# its icon.  Only the "tarvelo" component goes into the package, whatever
# else the build installs.
include(GNUInstallDirs)

set(TARVELO_PACKAGING_DIR ${CMAKE_SOURCE_DIR}/src/app/packaging)

install(TARGETS tarvelo RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT tarvelo)
install(FILES ${TARVELO_PACKAGING_DIR}/tarvelo.desktop
        DESTINATION ${CMAKE_INSTALL_DATADIR}/applications COMPONENT tarvelo)
install(FILES ${TARVELO_PACKAGING_DIR}/tarvelo.svg
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps COMPONENT tarvelo)

set(CPACK_PACKAGE_NAME tarvelo)
set(CPACK_PACKAGE_VENDOR "Tarvelo")
set(CPACK_PACKAGE_CONTACT "Tarvelo <tarvelo@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Removes a database from a SQL Server instance for good")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_INSTALL_CMAKE_PROJECTS "${CMAKE_BINARY_DIR};Tarvelo;tarvelo;/")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION database)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Not linked, but needed at run time: the ODBC driver every connection goes
# through, and the Spanish texts of the standard buttons.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "tdsodbc, qt6-translations-l10n")
# Faces as narrow as the classic dialog font, so that every caption fits.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "fonts-liberation2")
include(CPack)
