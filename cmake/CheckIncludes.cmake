# cmake -DDIR=<folder> [-DWIDGETS=ON] -P CheckIncludes.cmake
# Fails when a source under DIR includes a file by an absolute path or by one that climbs out
# with "..": such an include is found without the include path, past the folder's layer. Without
# WIDGETS, <QtWidgets/...>, <QtGui/...> and <QtSvg/...> fail too: Qt's shared include root would
# find them.
file(GLOB_RECURSE Files ${DIR}/*.cpp ${DIR}/*.h)
set(Found "")
foreach(File IN LISTS Files)
    file(STRINGS ${File} Lines REGEX "^[ \t]*#[ \t]*include")
    foreach(Line IN LISTS Lines)
        if(Line MATCHES "#[ \t]*include[ \t]*[\"<]([^\">]*)[\">]")
            set(Path ${CMAKE_MATCH_1})
            if(IS_ABSOLUTE "${Path}" OR Path MATCHES "(^|/)\\.\\.(/|$)")
                string(APPEND Found "\n  ${File}: ${Line}")
            elseif(NOT WIDGETS AND Path MATCHES "^Qt(Widgets|Gui|Svg)[A-Za-z]*/")
                string(APPEND Found "\n  ${File}: ${Line} (no widgets here)")
            endif()
        endif()
    endforeach()
endforeach()
if(Found)
    message(FATAL_ERROR "Include these from the repository root (\"reader/Dorvik.h\"), "
        "through the libraries the folder links, not past them:${Found}")
endif()
