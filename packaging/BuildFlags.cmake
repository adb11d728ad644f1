# Debian's hardening flags from dpkg-buildflags, every feature on, for every target, so the
# programs in the package are built as Debian builds its own. Included from the top level before
# any target. Not under the sanitizers, which bring checks of their own and want no fortified libc
# calls in their way.
option(DORVIK_HARDENING "Build with Debian's hardening flags (dpkg-buildflags)" ON)
find_program(DORVIK_DPKG_BUILDFLAGS dpkg-buildflags)
if(NOT DORVIK_HARDENING OR DORVIK_SANITIZE)
    return()
endif()
if(NOT DORVIK_DPKG_BUILDFLAGS)
    message(WARNING "dpkg-buildflags not found (dpkg-dev): building without hardening flags")
    return()
endif()

function(dorvik_dpkg_buildflags Name Out)
    execute_process(
        COMMAND ${CMAKE_COMMAND} -E env DEB_BUILD_MAINT_OPTIONS=hardening=+all
            ${DORVIK_DPKG_BUILDFLAGS} --get ${Name}
        OUTPUT_VARIABLE Flags OUTPUT_STRIP_TRAILING_WHITESPACE COMMAND_ERROR_IS_FATAL ANY)
    separate_arguments(Flags UNIX_COMMAND "${Flags}")
    # The build type chooses optimisation and debug info; source paths stay absolute for debuggers.
    list(FILTER Flags EXCLUDE REGEX "^-(O|g|ffile-prefix-map|fdebug-prefix-map)")
    set(${Out} ${Flags} PARENT_SCOPE)
endfunction()

dorvik_dpkg_buildflags(CPPFLAGS Preprocessor)
dorvik_dpkg_buildflags(CXXFLAGS Compiler)
dorvik_dpkg_buildflags(LDFLAGS Linker)
# Fortified calls need the optimiser: without it glibc only warns, in every file.
add_compile_options("$<$<NOT:$<CONFIG:Debug>>:${Preprocessor}>" ${Compiler})
add_link_options(${Linker})

# Stack clash and control-flow protection, which this dpkg does not hand out yet.
include(CheckCXXCompilerFlag)
foreach(Flag -fstack-clash-protection -fcf-protection)
    string(MAKE_C_IDENTIFIER "DORVIK_HAS${Flag}" Known)
    check_cxx_compiler_flag(${Flag} ${Known})
    if(${Known})
        add_compile_options(${Flag})
    endif()
endforeach()
