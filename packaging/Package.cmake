# The Debian package: `cpack -G DEB` (or plain `cpack`) in the build folder, after a build.
# Included at the end of the top-level CMakeLists.txt: CPack must be set up from the top-level
# directory, once everything to install is known.
if(NOT PROJECT_IS_TOP_LEVEL)
    return() # a project that adds this one packages itself
endif()

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME dorvik-manager)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Manager for Dorvik door card readers")
# Lines of at most 80 columns, as Debian wants them; CPack indents them.
string(JOIN "\n" CPACK_PACKAGE_DESCRIPTION
    "Reads the card list of a Dorvik door card reader over its USB serial port,"
    "lets you name the cards, choose the master card and set the door's mode and"
    "delay, and writes the list back. Card lists are saved to and loaded from files."
    "Includes dorvik-cli for scripted backups and dorvik-virtual-reader, a"
    "simulated reader for trying the program without one.")
set(CPACK_PACKAGE_CONTACT "${DORVIK_MAINTAINER}")
set(CPACK_STRIP_FILES ON)

# Settings for one generator only (the Debian package's /usr prefix), read when cpack runs.
set(CPACK_PROJECT_CONFIG_FILE ${CMAKE_CURRENT_LIST_DIR}/CPackOptions.cmake)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${DORVIK_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "${DORVIK_HOMEPAGE}")
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# The dependencies come from the libraries the programs link (dpkg-shlibdeps, from dpkg-dev).
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Qt loads its SQLite driver at run time, where dpkg-shlibdeps cannot see it.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "libqt6sql6-sqlite")
# The post-install script applies the udev rule to a reader already plugged in.
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${CMAKE_CURRENT_LIST_DIR}/debian/postinst)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)

# A source package of the tree, without build folders and the repository.
set(CPACK_SOURCE_GENERATOR TGZ)
set(CPACK_SOURCE_IGNORE_FILES "/\\\\.git/" "/build[^/]*/")

include(CPack)
