# `make package`: a Debian package of everything `make install` installs,
# below /usr: the VST 2.4 plug-ins in /usr/lib/vst, the LV2 bundles in
# /usr/lib/lv2, tapestop in /usr/bin, the kit (headers, static libraries,
# CMake package, pkg-config file, the LV2 generator in /usr/lib/tarvo) and
# the documentation in /usr/share/doc/tarvo. Its name carries the project's
# version: tarvo_<version>_amd64.deb.
set(TARVO_DOC_DIR share/doc/tarvo)
install(FILES ${PROJECT_SOURCE_DIR}/README.md ${PROJECT_SOURCE_DIR}/docs/writing-an-effect.md
              ${PROJECT_SOURCE_DIR}/packaging/copyright
        DESTINATION ${TARVO_DOC_DIR})

# Debian wants the changelog (of a package that is its own upstream:
# changelog.gz) and the manual page compressed, with no time stamp inside so
# that the package is the same from build to build.
set(changelog ${CMAKE_BINARY_DIR}/packaging/changelog)
configure_file(${PROJECT_SOURCE_DIR}/packaging/changelog.in ${changelog} @ONLY)
set(manPage ${CMAKE_BINARY_DIR}/packaging/tapestop.1)
configure_file(${PROJECT_SOURCE_DIR}/packaging/tapestop.1.in ${manPage} @ONLY)
add_custom_command(OUTPUT ${changelog}.gz
  COMMAND gzip -9 -n -c ${changelog} > ${changelog}.gz
  DEPENDS ${changelog}
  VERBATIM)
add_custom_command(OUTPUT ${manPage}.gz
  COMMAND gzip -9 -n -c ${manPage} > ${manPage}.gz
  DEPENDS ${manPage}
  VERBATIM)
add_custom_target(tarvo_package_docs ALL DEPENDS ${changelog}.gz ${manPage}.gz)
install(FILES ${changelog}.gz DESTINATION ${TARVO_DOC_DIR})
install(FILES ${manPage}.gz DESTINATION share/man/man1)
# The kit's pkg-config file carries the flags every effect on the frame needs
# (lintian takes compiler flags in Cflags for a mistake); said once, here.
install(FILES ${PROJECT_SOURCE_DIR}/packaging/lintian-overrides DESTINATION share/lintian/overrides RENAME tarvo)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME tarvo)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "Tarvo Pellwick")
set(CPACK_PACKAGE_CONTACT "Tarvo Pellwick <tarvo@tarvo.invalid>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "tape-stop audio effects as VST 2.4 and LV2 plug-ins")
set(CPACK_PACKAGE_DESCRIPTION
    "Tarvo TapeStop slows the sound down to standstill like a tape machine whose\n"
    "motor was cut. Tarvo TapeMotor stops and starts the tape, in time with the\n"
    "song, by a parameter or a MIDI note. Both are built as VST 2.4 plug-ins\n"
    "(/usr/lib/vst) and LV2 plug-ins (/usr/lib/lv2), where Linux hosts such as\n"
    "Ardour, Carla, Qtractor and Audacity look for them.\n"
    "\n"
    "The package also holds the tapestop command (render audio files through a\n"
    "plug-in, show and validate plug-ins) and the kit to build effects of one's\n"
    "own on the same class frame.")
string(JOIN "" CPACK_PACKAGE_DESCRIPTION ${CPACK_PACKAGE_DESCRIPTION})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME "tarvo_${PROJECT_VERSION}_amd64.deb")
set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE amd64)
set(CPACK_DEBIAN_PACKAGE_SECTION sound)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# dpkg-shlibdeps finds what the binaries link: libsndfile for tapestop, the C
# and C++ runtimes.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The tarvo Python module needs Debian's Python and numpy; Dask is optional.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "python3 (>= 3.11), python3 (<< 3.12), python3-numpy")
# Dask for render jobs; X11's, Cairo's and LV2's headers for the kit's
# editor library and LV2 adapter.
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "python3-distributed, libx11-dev, libcairo2-dev, lv2-dev")
# The Python module's compiled files are made on installing and removed
# before removing, as Debian's Python packages do.
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${PROJECT_SOURCE_DIR}/packaging/postinst ${PROJECT_SOURCE_DIR}/packaging/prerm)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)
