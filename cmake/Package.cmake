# The Debian package: `cpack -G DEB` in a build folder (tools/package/make-deb.sh makes a Release one).
# It always holds the linux install layout (cmake/Install.cmake), whatever a plain install does.
set(CPACK_INSTALL_CMAKE_PROJECTS "${CMAKE_BINARY_DIR};${PROJECT_NAME};linux;/")
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME tarvolin)
set(CPACK_PACKAGE_VENDOR Kavrendal)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Saves the expense documents sent from the Tarvolin phone app")
string(CONCAT CPACK_PACKAGE_DESCRIPTION
    "Tarvolin Masaüstü (Tarvolin Desktop) collects every expense document (PDF or JPEG) the Tarvolin\n"
    "phone app sends to this computer, verifies it and saves it under a safe, unique name into the\n"
    "folder the user chose. It lives in the tray and starts at login.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "Kavrendal <destek@kavrendal.example>")
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
# The libraries the program links come from dpkg-shlibdeps; what is loaded at run time it cannot see:
# Qt's display plugins and SVG icon reader, and libarchive, which the updater loads only to unpack an
# update. The packaged copy leaves its updates to the package manager, but the same binary unpacks
# without the marker, and the package has always pulled libarchive in.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins, libqt6svg6, libarchive13")
# Turkish texts in Qt's own dialogs; a secret service keeps the session across starts.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "qt6-translations-l10n")
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "gnome-keyring")
set(CPACK_STRIP_FILES ON)
include(CPack)
