# Installation and the Debian package.
#
# Both binaries live side by side in lib/pollaris, the folder where the program
# and the companion tool look for the election file candpos4.mdb. The launchers
# in bin are symbolic links; the program resolves its own folder through them.

include(GNUInstallDirs)

set(POLLARIS_APP_DIR lib/pollaris)

# Launchers: relative links, so that the installed tree can move as a whole.
install(CODE "
    set(bindir \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}\")
    file(MAKE_DIRECTORY \"\${bindir}\")
    foreach(tool pollaris pollaris-admin)
        file(REMOVE \"\${bindir}/\${tool}\")
        file(CREATE_LINK \"../${POLLARIS_APP_DIR}/\${tool}\" \"\${bindir}/\${tool}\" SYMBOLIC)
        message(STATUS \"Installing: \${bindir}/\${tool} -> ../${POLLARIS_APP_DIR}/\${tool}\")
    endforeach()
")

file(CONFIGURE OUTPUT ${CMAKE_BINARY_DIR}/pollaris.desktop CONTENT [=[
[Desktop Entry]
Type=Application
Name=Pollaris
GenericName=Student election
Comment=Run a student election on this computer
Exec=pollaris
Icon=pollaris
Terminal=false
Categories=Education;Office;
]=])
install(FILES ${CMAKE_BINARY_DIR}/pollaris.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${CMAKE_SOURCE_DIR}/resources/pollaris.png
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/256x256/apps)

set(CPACK_PACKAGE_NAME pollaris)
set(CPACK_PACKAGE_VENDOR "Pollaris")
set(CPACK_PACKAGE_CONTACT "Pollaris maintainers <pollaris@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Student election program for one shared computer")
string(CONCAT CPACK_PACKAGE_DESCRIPTION
    "Pollaris runs a student election on one shared computer: an administrator sets up\n"
    "positions, candidates and voter accounts, voters log in once and vote, and the\n"
    "administrator reads the ranked results. The companion tool pollaris-admin creates\n"
    "election files, imports voters, prints results and makes backups.")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION education)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# The libraries the binaries link (Qt 6 Widgets, SQLite, the C++ runtime) are
# found by dpkg-shlibdeps; the screen's platform plugin and the Arial-metric
# fonts are not linked and must be named.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS
    "libqt6widgets6 (>= 6.4), libsqlite3-0 (>= 3.37), qt6-qpa-plugins (>= 6.4), fonts-liberation, fonts-noto-core, fonts-dejavu-core")
# The results report prints names in every script: Chinese, Japanese and Korean
# names and emoji need these.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "fonts-noto-cjk, fonts-noto-color-emoji")
set(CPACK_GENERATOR DEB)
include(CPack)
