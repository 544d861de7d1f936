# Where `cmake --install` puts the program. Two layouts, each an install component:
#   bundle  <prefix>/Tarvolin.app/Contents/MacOS/Tarvolin: one relocatable folder, holding no absolute
#           paths, that the self-updater replaces whole; Contents/version is the version the update
#           check compares with the published one.
#   linux   <prefix>/lib/tarvolin/Tarvolin with a <prefix>/bin/tarvolin link and the AppStream metainfo,
#           for the Debian package (cmake/Package.cmake): the package manager owns these files, so a
#           marker beside the program tells the self-updater to leave them alone.
# Both get the desktop entry and the icon under <prefix>/share. TARVOLIN_INSTALL_LAYOUT picks the one a
# plain `cmake --install` installs; `cmake --install <build> --component <layout>` installs either.
set(TARVOLIN_INSTALL_LAYOUT bundle CACHE STRING "Layout a plain cmake --install installs: bundle (relocatable Tarvolin.app) or linux (/usr/lib/tarvolin)")
set_property(CACHE TARVOLIN_INSTALL_LAYOUT PROPERTY STRINGS bundle linux)
if(NOT TARVOLIN_INSTALL_LAYOUT MATCHES "^(bundle|linux)$")
    message(FATAL_ERROR "TARVOLIN_INSTALL_LAYOUT must be bundle or linux, not '${TARVOLIN_INSTALL_LAYOUT}'")
endif()
include(GNUInstallDirs)

set_target_properties(tarvolin PROPERTIES INSTALL_RPATH "")
set(resources ${CMAKE_SOURCE_DIR}/ui/resources)

# install() arguments for the rules of one layout: its component, and out of a plain install unless chosen.
function(tarvolin_layout_arguments layout out)
    set(arguments COMPONENT ${layout})
    if(NOT TARVOLIN_INSTALL_LAYOUT STREQUAL layout)
        list(APPEND arguments EXCLUDE_FROM_ALL)
    endif()
    set(${out} ${arguments} PARENT_SCOPE)
endfunction()

# The menu entry names the installed executable by its absolute path, which is only known at install
# time (--prefix), so it is written then.
function(tarvolin_install_menu_entry layout exec_in_prefix)
    tarvolin_layout_arguments(${layout} arguments)
    install(FILES ${resources}/tarvolin.svg DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps ${arguments})
    install(CODE "set(TARVOLIN_DESKTOP_TEMPLATE \"${resources}/tarvolin.desktop.in\")
set(TARVOLIN_DESKTOP_DIR \"${CMAKE_INSTALL_DATADIR}/applications\")
set(TARVOLIN_DESKTOP_ID \"${TARVOLIN_DESKTOP_ID}\")
set(TARVOLIN_EXEC_IN_PREFIX \"${exec_in_prefix}\")
include(\"${resources}/InstallDesktopEntry.cmake\")" ${arguments})
endfunction()

tarvolin_layout_arguments(bundle bundle_arguments)
set(TARVOLIN_BUNDLE Tarvolin.app)
install(TARGETS tarvolin RUNTIME DESTINATION ${TARVOLIN_BUNDLE}/Contents/MacOS ${bundle_arguments})
file(CONFIGURE OUTPUT ${CMAKE_BINARY_DIR}/bundle/version CONTENT "${PROJECT_VERSION}\n")
install(FILES ${CMAKE_BINARY_DIR}/bundle/version DESTINATION ${TARVOLIN_BUNDLE}/Contents ${bundle_arguments})
tarvolin_install_menu_entry(bundle ${TARVOLIN_BUNDLE}/Contents/MacOS/Tarvolin)

tarvolin_layout_arguments(linux linux_arguments)
# Not CMAKE_INSTALL_LIBDIR: that is the multiarch folder for shared libraries, not a program's home.
set(program_dir lib/tarvolin)
install(TARGETS tarvolin RUNTIME DESTINATION ${program_dir} ${linux_arguments})
# The name update/Updater.cpp looks for; the text is for whoever finds the file.
file(CONFIGURE OUTPUT ${CMAKE_BINARY_DIR}/linux/package-managed
    CONTENT "This copy of Tarvolin is installed and updated by the system's package manager.\n")
install(FILES ${CMAKE_BINARY_DIR}/linux/package-managed DESTINATION ${program_dir} ${linux_arguments})
# Relative, so the link holds inside a package's staging root and under any prefix.
file(MAKE_DIRECTORY ${CMAKE_BINARY_DIR}/linux/bin)
file(CREATE_LINK ../${program_dir}/Tarvolin ${CMAKE_BINARY_DIR}/linux/bin/tarvolin SYMBOLIC)
install(FILES ${CMAKE_BINARY_DIR}/linux/bin/tarvolin DESTINATION ${CMAKE_INSTALL_BINDIR} ${linux_arguments})
configure_file(${resources}/tarvolin.metainfo.xml.in ${CMAKE_BINARY_DIR}/linux/${TARVOLIN_DESKTOP_ID}.metainfo.xml @ONLY)
install(FILES ${CMAKE_BINARY_DIR}/linux/${TARVOLIN_DESKTOP_ID}.metainfo.xml
    DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo ${linux_arguments})
tarvolin_install_menu_entry(linux ${CMAKE_INSTALL_BINDIR}/tarvolin)
