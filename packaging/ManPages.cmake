# Manual pages for the programs, made from their --help and --version by help2man at
# build time, gzipped as Debian wants them. Included from packaging/CMakeLists.txt.
find_program(DORVIK_HELP2MAN help2man)
find_program(DORVIK_GZIP gzip REQUIRED)
if(NOT DORVIK_HELP2MAN)
    message(WARNING "help2man not found: no manual pages (the Debian package check will fail)")
    return()
endif()

set(ManDir ${CMAKE_CURRENT_BINARY_DIR}/man)
set(ManPages)
foreach(ProgramAndName
        "dorvik|manage the cards of a Dorvik door card reader"
        "dorvik-cli|back up, restore and set up a Dorvik card reader from scripts"
        "dorvik-virtual-reader|simulated Dorvik card reader on a pseudo-terminal"
        "dorvik-agent|keep every Dorvik door card reader connected and log its swipes")
    string(REPLACE "|" ";" ProgramAndName "${ProgramAndName}")
    list(GET ProgramAndName 0 Program)
    list(GET ProgramAndName 1 Name)
    if(NOT TARGET ${Program})
        continue()
    endif()
    add_custom_command(OUTPUT ${ManDir}/${Program}.1.gz
        COMMAND ${CMAKE_COMMAND} -E make_directory ${ManDir}
        COMMAND ${DORVIK_HELP2MAN} --no-info --section=1 --name=${Name}
            --output=${ManDir}/${Program}.1 $<TARGET_FILE:${Program}>
        COMMAND ${DORVIK_GZIP} -9nf ${ManDir}/${Program}.1
        DEPENDS ${Program}
        VERBATIM)
    list(APPEND ManPages ${ManDir}/${Program}.1.gz)
endforeach()
add_custom_target(dorvik_man_pages ALL DEPENDS ${ManPages})
install(FILES ${ManPages} DESTINATION share/man/man1)
