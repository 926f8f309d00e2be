# The Debian package: `cpack -G DEB` in the build folder (or the `package` target) makes
# vantorel_<version>-<release>_<arch>.deb from what `cmake --install` puts in /usr.
set(VANTOREL_MAINTAINER "Vantorel maintainers <maintainers@users.noreply.c-seed-f708355d.example>"
    CACHE STRING "Maintainer of the Debian package: Name <address>")
set(VANTOREL_DEBIAN_RELEASE 1 CACHE STRING "Debian revision of the package")

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME vantorel)
set(CPACK_PACKAGE_VENDOR Corvane)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT ${VANTOREL_MAINTAINER})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${PROJECT_DESCRIPTION}")
# Lines of at most 79 characters: the control file indents each by one.
set(CPACK_PACKAGE_DESCRIPTION
    "Vantorel puts a geographic overlay on images from the Meteor-M N2 series of\n"
    "weather satellites (N2, N2-2, N2-3, N2-4), as written by an LRPT decoder: an\n"
    "8-bit BMP, JPEG or PNG channel image named with its pass time, or a SatDump\n"
    "MSU-MR product. It propagates the orbit from two-line element sets\n"
    "(SGP4/SDP4), fits the scanner's ground points to the picture, aligns the\n"
    "overlay to the picture's own coasts and draws coastlines, lake shores, borders\n"
    "and place marks.\n"
    "\n"
    "The package holds the window (vantorel) and the headless program\n"
    "(vantorel-cli) for ground stations that process every pass automatically.")
string(JOIN "" CPACK_PACKAGE_DESCRIPTION ${CPACK_PACKAGE_DESCRIPTION})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)

set(CPACK_DEBIAN_PACKAGE_RELEASE ${VANTOREL_DEBIAN_RELEASE})
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION science)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# Depends: from the libraries the programs link, by dpkg-shlibdeps (dpkg-dev).
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_COMPRESSION_TYPE xz)

include(CPack)
