# Checks the man pages against the programs: every option that a program's usage text names
# (`PROGRAM --help`, on either stream) appears in docs/man/PROGRAM.1, and groff, when it is
# installed, formats each page without a warning.
#
#   cmake -DPAGES_DIR=docs/man "-DPROGRAMS=build/src/app/ridelog;build/server/ridelog-nameserver"
#         -P packaging/check-man-pages.cmake

cmake_minimum_required(VERSION 3.25)

set(problems)
foreach(program IN LISTS PROGRAMS)
    get_filename_component(name ${program} NAME)
    set(page ${PAGES_DIR}/${name}.1)
    if(NOT EXISTS ${page})
        list(APPEND problems "${name}: no man page ${page}")
        continue()
    endif()
    file(READ ${page} text)
    # In roff a minus sign is written \-.
    string(REPLACE "\\-" "-" text "${text}")

    execute_process(COMMAND ${program} --help
        OUTPUT_VARIABLE usage ERROR_VARIABLE usageErrors TIMEOUT 30)
    string(APPEND usage "\n${usageErrors}")
    # Square brackets would hold list items together in CMake; they say nothing here.
    string(REGEX REPLACE "[][;]" " " usage "${usage}")
    string(REGEX MATCHALL "(^|[^A-Za-z0-9-])--[a-z][a-z0-9-]*" options "${usage}")
    if(NOT options)
        list(APPEND problems "${name}: its usage names no option")
    endif()
    list(REMOVE_DUPLICATES options)
    foreach(option IN LISTS options)
        string(REGEX REPLACE "^[^-]" "" option "${option}")
        string(FIND "${text}" "${option}" at)
        if(at LESS 0)
            list(APPEND problems "${name}: ${option} is not in ${page}")
        endif()
    endforeach()

    find_program(GROFF groff)
    if(GROFF)
        execute_process(COMMAND ${GROFF} -man -ww -z -Tutf8 ${page}
            RESULT_VARIABLE result ERROR_VARIABLE warnings)
        if(NOT result EQUAL 0 OR warnings)
            list(APPEND problems "${name}: groff: ${result} ${warnings}")
        endif()
    else()
        message(STATUS "groff is not installed: ${page} is not formatted")
    endif()
endforeach()

if(problems)
    list(JOIN problems "\n  " shown)
    message(FATAL_ERROR "Man pages out of step with the programs:\n  ${shown}")
endif()
message(STATUS "man pages document every option of: ${PROGRAMS}")
