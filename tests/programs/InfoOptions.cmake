# PROGRAM --help and --version print and exit 0 with no display to talk to, under a platform
# plugin that aborts when a window system is opened.
get_filename_component(Name ${PROGRAM} NAME)
set(NoDisplay ${CMAKE_COMMAND} -E env --unset=DISPLAY --unset=WAYLAND_DISPLAY QT_QPA_PLATFORM=xcb)

execute_process(COMMAND ${NoDisplay} ${PROGRAM} --version
    RESULT_VARIABLE Status OUTPUT_VARIABLE Out ERROR_VARIABLE Err)
if(NOT Status EQUAL 0 OR NOT Out STREQUAL "${Name} (Dorvik Manager) ${VERSION}\n")
    message(FATAL_ERROR "${Name} --version: status ${Status}, out '${Out}', err '${Err}'")
endif()

execute_process(COMMAND ${NoDisplay} ${PROGRAM} --help
    RESULT_VARIABLE Status OUTPUT_VARIABLE Out ERROR_VARIABLE Err)
if(NOT Status EQUAL 0 OR NOT Out MATCHES "^Usage: ${Name} " OR NOT Err STREQUAL "")
    message(FATAL_ERROR "${Name} --help: status ${Status}, out '${Out}', err '${Err}'")
endif()
