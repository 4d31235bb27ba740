# The manual page, the Debian documentation and the package, made by cpack.
# The manual page and the changelog carry the version; Debian wants both
# compressed, and -n keeps the build reproducible.
configure_file(man/display-resolution.1.in display-resolution.1 @ONLY)
configure_file(packaging/changelog.in changelog @ONLY)
foreach(doc IN ITEMS display-resolution.1 changelog)
    add_custom_command(OUTPUT ${doc}.gz COMMAND gzip -9nc ${doc} > ${doc}.gz
        DEPENDS ${PROJECT_BINARY_DIR}/${doc})
endforeach()
add_custom_target(compressed-docs ALL DEPENDS display-resolution.1.gz changelog.gz)
install(FILES ${PROJECT_BINARY_DIR}/display-resolution.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES packaging/copyright ${PROJECT_BINARY_DIR}/changelog.gz DESTINATION ${CMAKE_INSTALL_DOCDIR})

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_PACKAGE_CONTACT "The display-resolution authors <display-resolution@users.noreply.invalid>")
set(CPACK_STRIP_FILES ON)
set(CPACK_PROJECT_CONFIG_FILE ${PROJECT_SOURCE_DIR}/cmake/package-time.cmake)
set(CPACK_PACKAGE_DESCRIPTION [[display-resolution asks the SDL 2 library for the current display mode of
the first display and prints it as one line (for example
Current Display Resolution: 1920x1080), or one line on standard error
naming what failed; the exit status is 0 or 1. It works on X11, on
Wayland and on the Linux console, takes no options and opens no window,
for use from shells, scripts and launchers.]])
include(CPack)
