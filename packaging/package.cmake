# cmake --install puts kplx, its man page, copyright and changelog under the prefix and its udev
# rule in udev's own folder; CPack makes a .deb of them that depends on the libftdi1 and libusb
# runtime packages (by dpkg-shlibdeps), with maintainer scripts that apply the rule at once.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME kplx)
set(CPACK_PACKAGE_VERSION ${KPLX_VERSION})
set(KPLX_MAINTAINER "kplx team <kplx@quorvel.example>" CACHE STRING "The .deb's Maintainer field")
set(CPACK_PACKAGE_CONTACT "${KPLX_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "load a database into Quorvel KPLX meters")
set(CPACK_PACKAGE_DESCRIPTION
  "kplx loads a meter database into Quorvel KPLX meters over their FTDI FT232R\n\
USB bridge, choosing meters by serial number and loading several in parallel,\n\
with progress, a JSON report and exit codes for scripts and production benches.")
# A Debian revision: the package carries changelog.Debian.gz, which only a non-native version has.
set(CPACK_DEBIAN_PACKAGE_RELEASE 1)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${KPLX_PACKAGING_DIR}/postinst ${KPLX_PACKAGING_DIR}/postrm)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR}/package)
include(CPack)
