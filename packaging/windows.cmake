# The Windows release: kplx-VERSION-windows-x86.zip (or -x64), from `cpack` in the win32 (win64)
# build: the console loader kplx.exe and the utility kplx-loader.exe, built as released (no
# simulator backend), the README, the man page as text, and the notices of the libraries linked
# into them (CLI11 and nlohmann-json compiled in; the MinGW-w64 and GCC runtimes linked
# statically), taken from their Debian packages.
if(CMAKE_SIZEOF_VOID_P EQUAL 8)
  set(kplx_zip_arch x64)
else()
  set(kplx_zip_arch x86)
endif()

install(TARGETS kplx-loader RUNTIME DESTINATION .)
install(FILES ${CMAKE_SOURCE_DIR}/README.md DESTINATION .)

# The man page as plain text with Windows line ends.
find_program(KPLX_GROFF groff REQUIRED)
set(kplx_manual_text ${CMAKE_BINARY_DIR}/kplx.txt)
add_custom_command(OUTPUT ${kplx_manual_text}
  COMMAND sh -c "'${KPLX_GROFF}' -man -Tascii -P-c -P-b -P-u '${KPLX_PACKAGING_DIR}/kplx.1' | sed 's/$/\\r/' > '${kplx_manual_text}'"
  DEPENDS ${KPLX_PACKAGING_DIR}/kplx.1 VERBATIM)
add_custom_target(kplx_manual_text ALL DEPENDS ${kplx_manual_text})
install(FILES ${kplx_manual_text} DESTINATION .)

set(kplx_notices ${CMAKE_BINARY_DIR}/NOTICES.txt)
set(kplx_notice_text "Notices of the libraries linked into kplx.exe and kplx-loader.exe.\n")
foreach(package libcli11-dev nlohmann-json3-dev mingw-w64-common gcc-mingw-w64-base)
  set(copyright /usr/share/doc/${package}/copyright)
  if(NOT EXISTS ${copyright})
    message(FATAL_ERROR "the notices need ${copyright} (scripts/setup.sh installs ${package})")
  endif()
  file(READ ${copyright} text)
  string(APPEND kplx_notice_text "\n==== ${package} (from its Debian copyright file)\n\n${text}")
endforeach()
string(REPLACE "\n" "\r\n" kplx_notice_text "${kplx_notice_text}")
file(WRITE ${kplx_notices} "${kplx_notice_text}")
install(FILES ${kplx_notices} DESTINATION .)

set(CPACK_GENERATOR ZIP)
set(CPACK_PACKAGE_NAME kplx)
set(CPACK_PACKAGE_VERSION ${KPLX_VERSION})
set(CPACK_PACKAGE_FILE_NAME kplx-${KPLX_VERSION}-windows-${kplx_zip_arch})
set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR}/package)
include(CPack)
