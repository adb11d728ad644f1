# Rates the agent's unit with `systemd-analyze security` and fails above MAX_EXPOSURE, or when
# systemd would ignore one of its lines: a misspelt key or value drops its protection silently.
execute_process(COMMAND ${ANALYZE} security --offline=true ${UNIT}
    RESULT_VARIABLE Result OUTPUT_VARIABLE Output ERROR_VARIABLE Errors)
if(NOT Result EQUAL 0)
    message(FATAL_ERROR "systemd-analyze security failed (${Result}):\n${Output}${Errors}")
endif()
get_filename_component(Name ${UNIT} NAME)
if(Errors MATCHES "${Name}:[0-9]+:")
    message(FATAL_ERROR "systemd ignores lines of ${UNIT}:\n${Errors}")
endif()
if(NOT Output MATCHES "Overall exposure level for ${Name}: ([0-9]+)\\.([0-9])")
    message(FATAL_ERROR "no overall exposure level in:\n${Output}")
endif()
# One decimal each: compared in tenths.
math(EXPR Tenths "${CMAKE_MATCH_1} * 10 + ${CMAKE_MATCH_2}")
string(REPLACE "." "" MaxTenths ${MAX_EXPOSURE})
message(STATUS "exposure ${CMAKE_MATCH_1}.${CMAKE_MATCH_2}, at most ${MAX_EXPOSURE}")
if(Tenths GREATER MaxTenths)
    message(FATAL_ERROR "exposure ${CMAKE_MATCH_1}.${CMAKE_MATCH_2} is above ${MAX_EXPOSURE}:\n${Output}")
endif()
