# What desktops and software centres read: the menu entry, its icon and the AppStream metainfo,
# all under DORVIK_APP_ID. Included from packaging/CMakeLists.txt, after Documents.cmake (the
# release date comes from the changelog).
set(DesktopDir ${CMAKE_CURRENT_BINARY_DIR}/desktop)
file(REMOVE_RECURSE ${DesktopDir}) # no file under an id given up
set(DORVIK_DESKTOP_FILE ${DesktopDir}/${DORVIK_APP_ID}.desktop)
set(DORVIK_METAINFO_FILE ${DesktopDir}/${DORVIK_APP_ID}.metainfo.xml)

string(REGEX REPLACE " *<.*" "" DORVIK_DEVELOPER "${DORVIK_MAINTAINER}")
string(REGEX REPLACE ".*<(.*)>.*" "\\1" DORVIK_CONTACT "${DORVIK_MAINTAINER}")

# The top changelog entry's date (" -- NAME  Wed, 09 Dec 2026 ...") as YYYY-MM-DD.
file(STRINGS ${Documents}/changelog Trailer REGEX "^ -- " LIMIT_COUNT 1)
if(NOT Trailer MATCHES ", ([0-9][0-9]) ([A-Z][a-z][a-z]) ([0-9][0-9][0-9][0-9]) ")
    message(FATAL_ERROR "packaging/changelog.in: no date in '${Trailer}'")
endif()
set(Months Jan Feb Mar Apr May Jun Jul Aug Sep Oct Nov Dec)
list(FIND Months ${CMAKE_MATCH_2} Month)
math(EXPR Month "${Month} + 1" OUTPUT_FORMAT DECIMAL)
string(LENGTH "${Month}" Digits)
if(Digits EQUAL 1)
    set(Month "0${Month}")
endif()
set(DORVIK_RELEASE_DATE "${CMAKE_MATCH_3}-${Month}-${CMAKE_MATCH_1}")

configure_file(${CMAKE_CURRENT_SOURCE_DIR}/dorvik.desktop.in ${DORVIK_DESKTOP_FILE} @ONLY)
configure_file(${CMAKE_CURRENT_SOURCE_DIR}/metainfo.xml.in ${DORVIK_METAINFO_FILE} @ONLY)

install(FILES ${DORVIK_DESKTOP_FILE} DESTINATION share/applications)
install(FILES ${DORVIK_METAINFO_FILE} DESTINATION share/metainfo)
install(FILES ${PROJECT_SOURCE_DIR}/ui/pictures/app-icon.svg
    DESTINATION share/icons/hicolor/scalable/apps
    RENAME ${DORVIK_APP_ID}.svg)
