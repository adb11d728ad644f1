# Installs the udev component into a scratch prefix and checks that the rule lands in the
# rules folder unchanged.
file(REMOVE_RECURSE ${STAGE_DIR})
execute_process(COMMAND ${CMAKE_COMMAND} --install ${BUILD_DIR} --component udev --prefix ${STAGE_DIR}
    RESULT_VARIABLE Result)
if(NOT Result EQUAL 0)
    message(FATAL_ERROR "cmake --install failed: ${Result}")
endif()
get_filename_component(Name ${RULE} NAME)
set(Installed ${STAGE_DIR}/${RULES_DIR}/${Name})
if(NOT EXISTS ${Installed})
    message(FATAL_ERROR "not installed: ${Installed}")
endif()
file(READ ${RULE} Expected)
file(READ ${Installed} Actual)
if(NOT Expected STREQUAL Actual)
    message(FATAL_ERROR "installed rule differs from ${RULE}")
endif()
file(REMOVE_RECURSE ${STAGE_DIR})
