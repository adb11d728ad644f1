# Builds the Debian package from a finished build into OUT_DIR and checks its fields and files,
# then lintian (errors and warnings fail unless OVERRIDES accepts them) and hardening-check.
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
foreach(Library libqt6widgets6 libqt6svg6 libqt6core6 libudev1 libc6 adduser libqt6sql6-sqlite libmicrohttpd12)
    ExpectMatch("${Fields}" "\nDepends:[^\n]* ${Library}[ ,(\n]" "dependency on ${Library}")
endforeach()

execute_process(COMMAND ${DPKG_DEB} --contents ${Packages} OUTPUT_VARIABLE Contents COMMAND_ERROR_IS_FATAL ANY)
set(Contents "\n${Contents}")
foreach(Path
        usr/bin/dorvik usr/bin/dorvik-cli usr/bin/dorvik-virtual-reader usr/bin/dorvik-agent
        usr/lib/udev/rules.d/70-dorvik.rules
        usr/lib/systemd/system/dorvik-agent.service
        usr/share/doc/dorvik-manager/examples/agent.conf
        usr/share/applications/${APP_ID}.desktop
        usr/share/icons/hicolor/scalable/apps/${APP_ID}.svg
        usr/share/metainfo/${APP_ID}.metainfo.xml
        usr/share/doc/dorvik-manager/copyright
        usr/share/doc/dorvik-manager/changelog.gz
        usr/share/man/man1/dorvik.1.gz
        usr/share/man/man1/dorvik-agent.1.gz
        usr/share/bash-completion/completions/dorvik-cli)
    ExpectMatch("${Contents}" " \\./${Path}\n" "file ${Path}")
endforeach()
ExpectMatch("${Contents}" "\n-rwxr-xr-x[^\n]* \\./usr/bin/dorvik\n" "the program is executable")
# Only the four programs: developer tools (dorvik-screenshots) are built but never installed.
string(REGEX MATCHALL " \\./usr/bin/[^/\n]+\n" Programs "${Contents}")
list(TRANSFORM Programs REPLACE "^ \\./usr/bin/([^\n]+)\n$" "\\1")
list(SORT Programs)
if(NOT Programs STREQUAL "dorvik;dorvik-agent;dorvik-cli;dorvik-virtual-reader")
    message(FATAL_ERROR "programs in the package: ${Programs}; expected dorvik, dorvik-agent, dorvik-cli, dorvik-virtual-reader")
endif()

# Every accepted lintian tag comes with its reason: a comment right above it.
file(STRINGS ${OVERRIDES} Lines)
set(Reason NO)
foreach(Line IN LISTS Lines)
    if(Line MATCHES "^#")
        set(Reason YES)
    elseif(Line STREQUAL "")
        set(Reason NO)
    elseif(NOT Reason)
        message(FATAL_ERROR "${OVERRIDES}: no reason above '${Line}'")
    endif()
endforeach()

if(NOT LINTIAN)
    message(FATAL_ERROR "lintian not found: install it (scripts/deps)")
endif()
execute_process(COMMAND ${LINTIAN} --fail-on error,warning ${Packages}
    RESULT_VARIABLE Result OUTPUT_VARIABLE Output ERROR_VARIABLE Errors)
if(NOT Result EQUAL 0)
    message(FATAL_ERROR "lintian: errors or warnings not in ${OVERRIDES}:\n${Output}${Errors}")
endif()

# The unit starts the program the package installs.
execute_process(COMMAND ${DPKG_DEB} -x ${Packages} ${OUT_DIR}/root COMMAND_ERROR_IS_FATAL ANY)
file(STRINGS ${OUT_DIR}/root/usr/lib/systemd/system/dorvik-agent.service ExecStart REGEX "^ExecStart=")
if(NOT ExecStart MATCHES "^ExecStart=(/[^ ]+)" OR NOT EXISTS ${OUT_DIR}/root${CMAKE_MATCH_1})
    message(FATAL_ERROR "the unit starts a program the package does not hold: ${ExecStart}")
endif()

if(SANITIZE)
    # A sanitizer build brings checks of its own instead of the hardening flags; it is never shipped.
    file(REMOVE_RECURSE ${OUT_DIR})
    return()
endif()
if(NOT HARDENING_CHECK)
    message(FATAL_ERROR "hardening-check not found: install devscripts (scripts/deps)")
endif()
# Control-flow protection is compiled in, but the mark that says so needs every object of the
# program to carry it, and Debian 12's C start files (Scrt1.o, crti.o) do not: no program linked
# here can show it.
execute_process(COMMAND ${HARDENING_CHECK} --quiet --nocfprotection
        ${OUT_DIR}/root/usr/bin/dorvik ${OUT_DIR}/root/usr/bin/dorvik-cli ${OUT_DIR}/root/usr/bin/dorvik-virtual-reader
        ${OUT_DIR}/root/usr/bin/dorvik-agent
    RESULT_VARIABLE Result OUTPUT_VARIABLE Output ERROR_VARIABLE Output)
if(NOT Result EQUAL 0)
    message(FATAL_ERROR "hardening-check:\n${Output}")
endif()
file(REMOVE_RECURSE ${OUT_DIR})
