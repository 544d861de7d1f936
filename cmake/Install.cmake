# The installed program is one relocatable folder that the self-updater replaces whole:
#   cmake --install <build> --prefix <dir>   gives   <dir>/Tarvolin.app/Contents/MacOS/Tarvolin
# The folder holds no absolute paths, so it can be moved or swapped anywhere. Contents/version is the
# version the update check compares with the published one.
set(TARVOLIN_BUNDLE Tarvolin.app)

set_target_properties(tarvolin PROPERTIES INSTALL_RPATH "")
install(TARGETS tarvolin RUNTIME DESTINATION ${TARVOLIN_BUNDLE}/Contents/MacOS)

file(CONFIGURE OUTPUT ${CMAKE_BINARY_DIR}/bundle/version CONTENT "${PROJECT_VERSION}\n")
install(FILES ${CMAKE_BINARY_DIR}/bundle/version DESTINATION ${TARVOLIN_BUNDLE}/Contents)
