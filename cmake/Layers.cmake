# One static library per folder, and the include paths that keep the folders in their layers.
#
# Includes are written from the repository root ("reader/Dorvik.h"), so the root itself is never
# an include path. Each folder is shown instead through a directory of its own under the build
# tree that holds a single link to it (layers/cards/cards -> <source>/cards). A library puts its
# directory on its public include path, so a folder sees exactly its own folder and those of the
# libraries it links: an include across a forbidden layer does not compile.

set(DORVIK_LAYERS_DIR ${PROJECT_BINARY_DIR}/layers)
set(DORVIK_CHECK_INCLUDES ${CMAKE_CURRENT_LIST_DIR}/CheckIncludes.cmake)

# Sets OutVar to the include directory that shows only the folder Dir (named as Dir is).
function(dorvik_layer_directory Dir OutVar)
    get_filename_component(Folder ${Dir} NAME)
    set(Layer ${DORVIK_LAYERS_DIR}/${Folder})
    file(MAKE_DIRECTORY ${Layer})
    file(CREATE_LINK ${Dir} ${Layer}/${Folder} SYMBOLIC)
    set(${OutVar} ${Layer} PARENT_SCOPE)
endfunction()

# A quoted include is looked up beside the including file before the include path, so
# "../reader/Dorvik.h" would reach past the layers; and Qt's include root, which every Qt module
# shares, would let <QtWidgets/QWidget> through where <QWidget> is not found. Target does not
# build while a file under Dir includes an absolute path, one that climbs with "..", or, unless
# WIDGETS is given, a header of Qt's widget or GUI modules.
function(dorvik_check_includes Target Dir)
    cmake_parse_arguments(PARSE_ARGV 2 ARG "WIDGETS" "" "")
    set(Widgets OFF)
    if(ARG_WIDGETS)
        set(Widgets ON)
    endif()
    file(GLOB_RECURSE Files CONFIGURE_DEPENDS ${Dir}/*.cpp ${Dir}/*.h)
    string(MAKE_C_IDENTIFIER ${Target} Name)
    set(Stamp ${CMAKE_CURRENT_BINARY_DIR}/${Name}_includes.stamp)
    add_custom_command(OUTPUT ${Stamp}
        COMMAND ${CMAKE_COMMAND} -DDIR=${Dir} -DWIDGETS=${Widgets} -P ${DORVIK_CHECK_INCLUDES}
        COMMAND ${CMAKE_COMMAND} -E touch ${Stamp}
        DEPENDS ${Files} ${DORVIK_CHECK_INCLUDES}
        COMMENT "Checking the includes of ${Target}"
        VERBATIM)
    add_custom_target(${Name}_includes DEPENDS ${Stamp})
    add_dependencies(${Target} ${Name}_includes)
endfunction()

# The library Target of the calling folder: every source and window description in it, new files
# included at the next build. Link the folders it may include with target_link_libraries; only
# a library marked WIDGETS may use Qt's widgets.
function(dorvik_folder_library Target)
    cmake_parse_arguments(PARSE_ARGV 1 ARG "WIDGETS" "" "")
    set(Dir ${CMAKE_CURRENT_SOURCE_DIR})
    file(GLOB Sources CONFIGURE_DEPENDS ${Dir}/*.cpp ${Dir}/*.h ${Dir}/*.ui)
    add_library(${Target} STATIC ${Sources})
    dorvik_layer_directory(${Dir} Layer)
    target_include_directories(${Target} PUBLIC $<BUILD_INTERFACE:${Layer}>)
    if(ARG_WIDGETS)
        dorvik_check_includes(${Target} ${Dir} WIDGETS)
    else()
        dorvik_check_includes(${Target} ${Dir})
    endif()
endfunction()
