# The Debian package: cpack -G DEB (scripts/package.sh) makes corvane_VERSION_ARCH.deb with the
# program folder in /usr/lib/corvane and its dependencies computed from the binaries.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME corvane)
set(CPACK_PACKAGE_VENDOR "The Corvane developers")
set(CPACK_PACKAGE_CONTACT "Corvane developers <maintainers@corvane.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "turns Quake 2 game data into pk3 archives for Quake 3")
set(CPACK_PACKAGE_DESCRIPTION
    "Corvane unpacks the pak files of an installed Quake 2, repacks the chosen
game files into the zip-based pk3 archives of the Quake 3 engine and installs
them in the qfbastion folder of a Quake 3 installation. It is a small wizard
that searches the drives for both games, and a command line (corvane convert,
corvane find) for any installation, with no display needed.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://corvane.example/")
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Without it a Wayland session with no X server has no display Qt can use.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "qt6-wayland")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)
