# Runs at install time: writes the desktop entry with the installed executable's absolute path.
# Expects TARVOLIN_DESKTOP_TEMPLATE, TARVOLIN_DESKTOP_DIR and TARVOLIN_EXEC_IN_PREFIX (both relative to the
# prefix) and TARVOLIN_DESKTOP_ID.
set(exec "${CMAKE_INSTALL_PREFIX}/${TARVOLIN_EXEC_IN_PREFIX}")
# Inside the quotes of an Exec line, these four characters need a backslash.
string(REGEX REPLACE "([\\\"`$])" "\\\\\\1" exec "${exec}")
# The key file's own string escaping comes on top: every backslash is doubled once more.
string(REPLACE "\\" "\\\\" exec "${exec}")
set(TARVOLIN_EXEC "\"${exec}\"")
set(entry "$ENV{DESTDIR}${CMAKE_INSTALL_PREFIX}/${TARVOLIN_DESKTOP_DIR}/${TARVOLIN_DESKTOP_ID}.desktop")
message(STATUS "Installing: ${entry}")
configure_file("${TARVOLIN_DESKTOP_TEMPLATE}" "${entry}" @ONLY)
