# cmake --install puts kplx, its man page and its udev rule under the prefix; CPack makes a
# .deb of them that depends on the libftdi1 and libusb runtime packages (by dpkg-shlibdeps).
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME kplx)
set(CPACK_PACKAGE_VERSION ${KPLX_VERSION})
set(CPACK_PACKAGE_CONTACT "kplx maintainers <kplx@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "load a database into Quorvel KPLX meters")
set(CPACK_PACKAGE_DESCRIPTION
  "kplx loads a meter database into Quorvel KPLX meters over their FTDI FT232R USB bridge,\n\
choosing meters by serial number and loading several in parallel, with progress, a JSON\n\
report and exit codes for scripts and production benches.")
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR}/package)
include(CPack)
