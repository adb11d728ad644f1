# Builds the Debian package from a finished build into OUT_DIR and checks its fields and files.
file(REMOVE_RECURSE ${OUT_DIR})
execute_process(COMMAND ${CPACK} -G DEB --config ${CONFIG} -B ${OUT_DIR}
    RESULT_VARIABLE Result OUTPUT_VARIABLE Output ERROR_VARIABLE Output)
if(NOT Result EQUAL 0)
    message(FATAL_ERROR "cpack failed (${Result}):\n${Output}")
endif()
file(GLOB Packages ${OUT_DIR}/dorvik-manager_*.deb)
list(LENGTH Packages Count)
if(NOT Count EQUAL 1)
    message(FATAL_ERROR "expected one dorvik-manager_*.deb in ${OUT_DIR}, found: ${Packages}")
endif()

function(ExpectMatch Text Pattern What)
    if(NOT Text MATCHES "${Pattern}")
        message(FATAL_ERROR "${What}: no match for '${Pattern}' in:\n${Text}")
    endif()
endfunction()

# A line break in front, so every line, the first too, starts after one.
execute_process(COMMAND ${DPKG_DEB} --field ${Packages} OUTPUT_VARIABLE Fields COMMAND_ERROR_IS_FATAL ANY)
set(Fields "\n${Fields}")
ExpectMatch("${Fields}" "\nPackage: dorvik-manager\n" "package name")
ExpectMatch("${Fields}" "\nMaintainer: [^\n]+ <[^\n]+@[^\n]+>\n" "maintainer")
ExpectMatch("${Fields}" "\nSection: utils\n" "section")
foreach(Library libqt6widgets6 libqt6svg6 libqt6core6 libudev1 libc6)
    ExpectMatch("${Fields}" "\nDepends:[^\n]* ${Library}[ ,(\n]" "dependency on ${Library}")
endforeach()

execute_process(COMMAND ${DPKG_DEB} --contents ${Packages} OUTPUT_VARIABLE Contents COMMAND_ERROR_IS_FATAL ANY)
set(Contents "\n${Contents}")
foreach(Path
        usr/bin/dorvik usr/bin/dorvik-cli usr/bin/dorvik-virtual-reader
        usr/lib/udev/rules.d/70-dorvik.rules
        usr/share/applications/${APP_ID}.desktop
        usr/share/icons/hicolor/scalable/apps/${APP_ID}.svg
        usr/share/metainfo/${APP_ID}.metainfo.xml)
    ExpectMatch("${Contents}" " \\./${Path}\n" "file ${Path}")
endforeach()
ExpectMatch("${Contents}" "\n-rwxr-xr-x[^\n]* \\./usr/bin/dorvik\n" "the program is executable")
file(REMOVE_RECURSE ${OUT_DIR})
