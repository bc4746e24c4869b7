# Installation and the Debian package.
#
# Both binaries live side by side in lib/pollaris, the folder where the program
# and the companion tool look for the election file candpos4.mdb. The launchers
# in bin are symbolic links; the program resolves its own folder through them.
# The folder is root's alone: the election file in it is a link to the data
# folder, which the package's scripts create for the group pollaris.

include(GNUInstallDirs)

set(POLLARIS_APP_DIR lib/pollaris)
set(POLLARIS_DATA_DIR /var/lib/pollaris)

# Launchers: relative links, so that the installed tree can move as a whole.
install(CODE "
    set(bindir \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}\")
    file(MAKE_DIRECTORY \"\${bindir}\")
    foreach(tool pollaris pollaris-admin)
        file(REMOVE \"\${bindir}/\${tool}\")
        file(CREATE_LINK \"../${POLLARIS_APP_DIR}/\${tool}\" \"\${bindir}/\${tool}\" SYMBOLIC)
        message(STATUS \"Installing: \${bindir}/\${tool} -> ../${POLLARIS_APP_DIR}/\${tool}\")
    endforeach()
    set(data \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${POLLARIS_APP_DIR}/candpos4.mdb\")
    file(REMOVE \"\${data}\")
    file(CREATE_LINK \"${POLLARIS_DATA_DIR}/candpos4.mdb\" \"\${data}\" SYMBOLIC)
    message(STATUS \"Installing: \${data} -> ${POLLARIS_DATA_DIR}/candpos4.mdb\")
")

# A stripped install (the package's) also drops the compiler's notes, as
# dh_strip does for Debian's own packages.
if(CMAKE_OBJCOPY)
    install(CODE "
        if(CMAKE_INSTALL_DO_STRIP)
            foreach(tool pollaris pollaris-admin)
                execute_process(COMMAND \"${CMAKE_OBJCOPY}\" --remove-section=.comment
                    \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${POLLARIS_APP_DIR}/\${tool}\" COMMAND_ERROR_IS_FATAL ANY)
            endforeach()
        endif()
    ")
endif()

# The kiosk: its launcher (also beside the programs in the build tree) and the
# session a display manager offers.
configure_file(${CMAKE_CURRENT_LIST_DIR}/pollaris-kiosk ${CMAKE_RUNTIME_OUTPUT_DIRECTORY}/pollaris-kiosk COPYONLY)
install(PROGRAMS ${CMAKE_CURRENT_LIST_DIR}/pollaris-kiosk DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${CMAKE_CURRENT_LIST_DIR}/pollaris-kiosk.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/wayland-sessions)

# Manual pages and the Debian documents, compressed as Debian wants them.
set(POLLARIS_DOC_DIR ${CMAKE_BINARY_DIR}/doc)
configure_file(${CMAKE_CURRENT_LIST_DIR}/debian/changelog.in ${POLLARIS_DOC_DIR}/changelog @ONLY)
set(POLLARIS_COMPRESSED ${POLLARIS_DOC_DIR}/changelog.gz)
foreach(page pollaris pollaris-admin pollaris-kiosk)
    configure_file(${CMAKE_CURRENT_LIST_DIR}/man/${page}.1 ${POLLARIS_DOC_DIR}/${page}.1 @ONLY)
    list(APPEND POLLARIS_COMPRESSED ${POLLARIS_DOC_DIR}/${page}.1.gz)
endforeach()
foreach(compressed ${POLLARIS_COMPRESSED})
    string(REGEX REPLACE "\\.gz$" "" plain ${compressed})
    add_custom_command(OUTPUT ${compressed} COMMAND gzip -9nf -k ${plain} DEPENDS ${plain} VERBATIM)
endforeach()
add_custom_target(pollaris-docs ALL DEPENDS ${POLLARIS_COMPRESSED})
install(FILES ${POLLARIS_DOC_DIR}/pollaris.1.gz ${POLLARIS_DOC_DIR}/pollaris-admin.1.gz
              ${POLLARIS_DOC_DIR}/pollaris-kiosk.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${CMAKE_CURRENT_LIST_DIR}/debian/copyright ${POLLARIS_DOC_DIR}/changelog.gz
        DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/pollaris)

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
Keywords=election;vote;ballot;candidates;voters;
]=])
install(FILES ${CMAKE_BINARY_DIR}/pollaris.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${CMAKE_SOURCE_DIR}/resources/pollaris.png
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/256x256/apps)

set(CPACK_PACKAGE_NAME pollaris)
set(CPACK_PACKAGE_VENDOR "Pollaris")
set(CPACK_PACKAGE_CONTACT "Pollaris maintainers <maintainers@pollaris.example.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Student election program for one shared computer")
string(CONCAT CPACK_PACKAGE_DESCRIPTION
    "Pollaris runs a student election on one shared computer: an administrator\n"
    "sets up positions, candidates and voter accounts, voters log in once and\n"
    "vote, and the administrator reads the ranked results. The companion tool\n"
    "pollaris-admin creates election files, imports voters, prints results and\n"
    "makes backups; pollaris-kiosk runs the program as a polling station's only\n"
    "program, full screen inside cage.")
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
    "libqt6widgets6 (>= 6.4), libsqlite3-0 (>= 3.37), qt6-qpa-plugins (>= 6.4), fonts-liberation, fonts-noto-core, fonts-dejavu-core, passwd")
# The kiosk: cage (which starts Xwayland) and Qt's Wayland platform. The results
# report prints names in every script: Chinese, Japanese and Korean names and
# emoji need the last two.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "cage, qt6-wayland, xwayland, fonts-noto-cjk, fonts-noto-color-emoji")
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://pollaris.example.org/")
# The group pollaris and the data folder; an election file is never deleted.
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
    ${CMAKE_CURRENT_LIST_DIR}/debian/preinst ${CMAKE_CURRENT_LIST_DIR}/debian/postinst
    ${CMAKE_CURRENT_LIST_DIR}/debian/postrm)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_GENERATOR DEB)
include(CPack)
