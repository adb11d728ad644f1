# The package's documents: the machine-readable copyright file, made from LICENSE, and the
# changelog, gzipped as Debian wants them. Included from packaging/CMakeLists.txt.
set(DORVIK_DOC_DIR share/doc/dorvik-manager)
set(Documents ${CMAKE_CURRENT_BINARY_DIR}/documents)

# The licence text as a copyright file paragraph: every line indented, blank lines as " .".
file(READ ${PROJECT_SOURCE_DIR}/LICENSE LicenceText)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/LICENSE)
string(REGEX MATCH "Copyright \\(c\\) ([^\n]+)" _ "${LicenceText}")
set(CopyrightHolder "${CMAKE_MATCH_1}")
string(REGEX REPLACE "^MIT License\n\nCopyright [^\n]*\n\n" "" LicenceText "${LicenceText}")
string(REGEX REPLACE "\n+$" "" LicenceText "${LicenceText}")
string(REPLACE "\n\n" "\n.\n" LicenceText "${LicenceText}")
string(REPLACE "\n" "\n " LicenceText " ${LicenceText}")
file(WRITE ${Documents}/copyright
"Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/
Upstream-Name: Dorvik Manager
Upstream-Contact: ${DORVIK_MAINTAINER}
Source: ${DORVIK_HOMEPAGE}

Files: *
Copyright: ${CopyrightHolder}
License: Expat

License: Expat
${LicenceText}
")

# A new version needs its changelog entry: the top one names the version being built.
configure_file(${CMAKE_CURRENT_SOURCE_DIR}/changelog.in ${Documents}/changelog @ONLY)
file(STRINGS ${Documents}/changelog TopEntry LIMIT_COUNT 1)
if(NOT TopEntry MATCHES "^dorvik-manager \\(${PROJECT_VERSION}\\) ")
    message(FATAL_ERROR "packaging/changelog.in: the top entry is not for ${PROJECT_VERSION}: ${TopEntry}")
endif()

find_program(DORVIK_GZIP gzip REQUIRED)
add_custom_command(OUTPUT ${Documents}/changelog.gz
    COMMAND ${DORVIK_GZIP} -9nc ${Documents}/changelog > ${Documents}/changelog.gz
    DEPENDS ${Documents}/changelog
    VERBATIM)
add_custom_target(dorvik_documents ALL DEPENDS ${Documents}/changelog.gz)

install(FILES ${Documents}/copyright ${Documents}/changelog.gz DESTINATION ${DORVIK_DOC_DIR})
