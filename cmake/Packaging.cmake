# The Debian package: cmake --build build --target package writes
# build/vxupgrade_<version>_amd64.deb from the install rules (cmake/Install.cmake)
# plus what Debian asks of every package: the copyright file and a changelog
# in /usr/share/doc/vxupgrade, stripped programs (cmake/StripPackage.cmake),
# and dependencies worked out by dpkg-shlibdeps from the libraries the
# programs link.

set(VX_PACKAGE_MAINTAINER "vxUpgrade developers <vxupgrade@example.org>" CACHE STRING
  "Maintainer of the Debian package, as \"Name <address>\"")

configure_file(${PROJECT_SOURCE_DIR}/packaging/changelog.in ${CMAKE_BINARY_DIR}/packaging/changelog @ONLY)
find_program(VX_GZIP gzip)
add_custom_command(OUTPUT ${CMAKE_BINARY_DIR}/packaging/changelog.gz
  COMMAND ${VX_GZIP} -9nc ${CMAKE_BINARY_DIR}/packaging/changelog > ${CMAKE_BINARY_DIR}/packaging/changelog.gz
  DEPENDS ${CMAKE_BINARY_DIR}/packaging/changelog
  VERBATIM)
add_custom_target(vx_changelog ALL DEPENDS ${CMAKE_BINARY_DIR}/packaging/changelog.gz)
install(FILES ${PROJECT_SOURCE_DIR}/packaging/copyright ${CMAKE_BINARY_DIR}/packaging/changelog.gz
  DESTINATION share/doc/vxupgrade)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME vxupgrade)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "vxUpgrade developers")
set(CPACK_PACKAGE_CONTACT ${VX_PACKAGE_MAINTAINER})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_PRE_BUILD_SCRIPTS ${PROJECT_SOURCE_DIR}/cmake/StripPackage.cmake)
set(CPACK_VX_STRIP ${CMAKE_STRIP})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "upgrade tool for VX900 signal-generator instruments")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER ${VX_PACKAGE_MAINTAINER})
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# CPack puts the summary first; this is the long description after it.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "vxUpgrade upgrades the software and signal files of a networked VX900
signal-generator instrument over its command channel and FTP: type the
instrument's address, tick the modules whose signal files are to be
refreshed, press Copy, and reboot the instrument when the tool says so.
.
The package holds the window (vxupgrade), the same upgrade for scripts and
machines without a display (vxupgrade-cli), and vx900sim, an instrument
simulator for trying the tool without an instrument.")
# The Qt 6 libraries and the C++ runtime come from dpkg-shlibdeps. The
# simulator is a Python 3 program; its FTP server needs pyftpdlib, which
# only the simulator uses.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "python3")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "python3-pyftpdlib")
# The window's folder chooser is the desktop's own when Qt has a platform
# theme for it; without one Qt shows its own chooser.
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "qt6-xdgdesktopportal-platformtheme | qt6-gtk-platformtheme")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)

include(CPack)
