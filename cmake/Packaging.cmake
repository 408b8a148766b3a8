# Installation in the usual places, and a Debian package of it (cpack in the build folder).
include(GNUInstallDirs)

set(QUILLFORT_MAINTAINER "Quillfort developers <developers@quillfort.example.org>"
    CACHE STRING "Maintainer named in the Debian package")

# Debian keeps manual pages compressed.
find_program(GZIP_PROGRAM gzip REQUIRED)
add_custom_command(
  OUTPUT ${CMAKE_CURRENT_BINARY_DIR}/quillfort.1.gz
  COMMAND ${GZIP_PROGRAM} -9 -n -c ${CMAKE_CURRENT_SOURCE_DIR}/doc/quillfort.1 > quillfort.1.gz
  DEPENDS doc/quillfort.1
  WORKING_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR}
  VERBATIM)
add_custom_target(quillfort_manual ALL DEPENDS ${CMAKE_CURRENT_BINARY_DIR}/quillfort.1.gz)
add_custom_command(
  OUTPUT ${CMAKE_CURRENT_BINARY_DIR}/changelog.Debian.gz
  COMMAND ${GZIP_PROGRAM} -9 -n -c ${CMAKE_CURRENT_SOURCE_DIR}/packaging/changelog.Debian > changelog.Debian.gz
  DEPENDS packaging/changelog.Debian
  WORKING_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR}
  VERBATIM)
add_custom_target(quillfort_changelog ALL DEPENDS ${CMAKE_CURRENT_BINARY_DIR}/changelog.Debian.gz)

install(TARGETS quillfort RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/quillfort.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES completion/quillfort DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions)
install(FILES packaging/copyright ${CMAKE_CURRENT_BINARY_DIR}/changelog.Debian.gz
        DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/quillfort)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME quillfort)
set(CPACK_PACKAGE_CONTACT "${QUILLFORT_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${QUILLFORT_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "encrypt and decrypt files with a password")
set(CPACK_PACKAGE_DESCRIPTION
    "Quillfort writes an encrypted or decrypted copy of each file it is given,
using a password and a byte-substitution cipher of its own, with one thread
per processor for large files. The cipher has no integrity protection and is
not meant to resist a determined attacker: see the manual page's SECURITY
section.")
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
# A Debian revision: the package is not Debian-native, so its changelog is changelog.Debian.gz.
set(CPACK_DEBIAN_PACKAGE_RELEASE 1)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_STRIP_FILES ON)
include(CPack)
