# Where `cmake --install` puts the program. Two layouts:
#   bundle (default)  <prefix>/Tarvolin.app/Contents/MacOS/Tarvolin: one relocatable folder, holding no
#                     absolute paths, that the self-updater replaces whole; Contents/version is the
#                     version the update check compares with the published one.
#   linux             <prefix>/lib/tarvolin/Tarvolin with a <prefix>/bin/tarvolin link, for the Debian
#                     package: the package manager owns these files, so a marker beside the program tells
#                     the self-updater to leave them alone.
# Both get the desktop entry and the icon under <prefix>/share, so the program appears in the menus.
set(TARVOLIN_INSTALL_LAYOUT bundle CACHE STRING "Install layout: bundle (relocatable Tarvolin.app) or linux (/usr/lib/tarvolin, for packages)")
set_property(CACHE TARVOLIN_INSTALL_LAYOUT PROPERTY STRINGS bundle linux)
include(GNUInstallDirs)

set_target_properties(tarvolin PROPERTIES INSTALL_RPATH "")
set(resources ${CMAKE_SOURCE_DIR}/ui/resources)

if(TARVOLIN_INSTALL_LAYOUT STREQUAL "bundle")
    set(TARVOLIN_BUNDLE Tarvolin.app)
    install(TARGETS tarvolin RUNTIME DESTINATION ${TARVOLIN_BUNDLE}/Contents/MacOS)
    file(CONFIGURE OUTPUT ${CMAKE_BINARY_DIR}/bundle/version CONTENT "${PROJECT_VERSION}\n")
    install(FILES ${CMAKE_BINARY_DIR}/bundle/version DESTINATION ${TARVOLIN_BUNDLE}/Contents)
    set(TARVOLIN_EXEC_IN_PREFIX ${TARVOLIN_BUNDLE}/Contents/MacOS/Tarvolin)
elseif(TARVOLIN_INSTALL_LAYOUT STREQUAL "linux")
    # Not CMAKE_INSTALL_LIBDIR: that is the multiarch folder for shared libraries, not a program's home.
    set(program_dir lib/tarvolin)
    install(TARGETS tarvolin RUNTIME DESTINATION ${program_dir})
    # The name update/Updater.cpp looks for; its text is for whoever finds the file.
    file(CONFIGURE OUTPUT ${CMAKE_BINARY_DIR}/linux/package-managed
        CONTENT "This copy of Tarvolin is installed and updated by the system's package manager.\n")
    install(FILES ${CMAKE_BINARY_DIR}/linux/package-managed DESTINATION ${program_dir})
    # Relative, so the link stays right inside a package's staging root and wherever the prefix is.
    file(MAKE_DIRECTORY ${CMAKE_BINARY_DIR}/linux/bin)
    file(CREATE_LINK ../${program_dir}/Tarvolin ${CMAKE_BINARY_DIR}/linux/bin/tarvolin SYMBOLIC)
    install(FILES ${CMAKE_BINARY_DIR}/linux/bin/tarvolin DESTINATION ${CMAKE_INSTALL_BINDIR})
    configure_file(${resources}/tarvolin.metainfo.xml.in
        ${CMAKE_BINARY_DIR}/linux/${TARVOLIN_DESKTOP_ID}.metainfo.xml @ONLY)
    install(FILES ${CMAKE_BINARY_DIR}/linux/${TARVOLIN_DESKTOP_ID}.metainfo.xml
        DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
    set(TARVOLIN_EXEC_IN_PREFIX ${CMAKE_INSTALL_BINDIR}/tarvolin)
else()
    message(FATAL_ERROR "TARVOLIN_INSTALL_LAYOUT must be bundle or linux, not '${TARVOLIN_INSTALL_LAYOUT}'")
endif()

install(FILES ${resources}/tarvolin.svg DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
# The entry names the installed executable by its absolute path, which is only known at install time
# (--prefix), so it is written then.
install(CODE "set(TARVOLIN_DESKTOP_TEMPLATE \"${resources}/tarvolin.desktop.in\")
set(TARVOLIN_DESKTOP_DIR \"${CMAKE_INSTALL_DATADIR}/applications\")
set(TARVOLIN_DESKTOP_ID \"${TARVOLIN_DESKTOP_ID}\")
set(TARVOLIN_EXEC_IN_PREFIX \"${TARVOLIN_EXEC_IN_PREFIX}\")")
install(SCRIPT ${resources}/InstallDesktopEntry.cmake)
