# Checks a Debian package of Ridelog with dpkg-deb: every path and dependency listed in
# package-contents.txt is there, everything lies under /usr, the version is right and the
# programs are stripped. Prints the package's size and file count.
#
# Either packs a build tree first (the ctest test; the package lands in BUILD_DIR/package-check;
# QUICK_DEPENDS, when given, is the Depends field instead of dpkg-shlibdeps' findings):
#   cmake -DBUILD_DIR=build -DCPACK_COMMAND=cpack -DEXPECTED=packaging/package-contents.txt
#         -DVERSION=1.2.0 [-DQUICK_DEPENDS="..."] -P packaging/check-package.cmake
# or checks a package made before (`make package`):
#   cmake -DPACKAGE=build-package/ridelog_1.2.0_amd64.deb -DEXPECTED=... -DVERSION=...
#         -P packaging/check-package.cmake
# Without dpkg-deb it says "SKIPPED:" and why, and succeeds.

cmake_minimum_required(VERSION 3.25)

find_program(DPKG_DEB dpkg-deb)
if(NOT DPKG_DEB)
    message("SKIPPED: dpkg-deb is not installed (Debian dpkg), so no package can be checked")
    return()
endif()

if(BUILD_DIR)
    set(out ${BUILD_DIR}/package-check)
    # QUICK_DEPENDS: the whole Depends field, given instead of running dpkg-shlibdeps.
    set(quick)
    if(QUICK_DEPENDS)
        set(quick -D CPACK_DEBIAN_PACKAGE_SHLIBDEPS=OFF
                  -D "CPACK_DEBIAN_PACKAGE_DEPENDS=${QUICK_DEPENDS}")
    endif()
    file(REMOVE_RECURSE ${out})
    execute_process(
        COMMAND ${CPACK_COMMAND} -G DEB --config ${BUILD_DIR}/CPackConfig.cmake -B ${out}
                ${quick}
        WORKING_DIRECTORY ${BUILD_DIR}
        RESULT_VARIABLE result OUTPUT_VARIABLE output ERROR_VARIABLE errors)
    if(NOT result EQUAL 0)
        message(FATAL_ERROR "cpack failed (${result}):\n${output}\n${errors}")
    endif()
    file(GLOB PACKAGE ${out}/*.deb)
endif()
list(LENGTH PACKAGE count)
if(NOT count EQUAL 1 OR NOT EXISTS "${PACKAGE}")
    message(FATAL_ERROR "expected one package, found: '${PACKAGE}'")
endif()

execute_process(COMMAND ${DPKG_DEB} -c ${PACKAGE}
    RESULT_VARIABLE result OUTPUT_VARIABLE listing ERROR_VARIABLE errors)
if(NOT result EQUAL 0)
    message(FATAL_ERROR "dpkg-deb -c ${PACKAGE} failed: ${errors}")
endif()

# "drwxr-xr-x root/root 0 2026-12-07 16:00 ./usr/bin/" -> "usr/bin"; links keep their name.
string(REPLACE "\n" ";" lines "${listing}")
set(paths)
set(problems)
foreach(line IN LISTS lines)
    if(line MATCHES " \\./([^ ]*)( -> .*)?$")
        string(REGEX REPLACE "/$" "" path "${CMAKE_MATCH_1}")
        if(path STREQUAL "")
            continue()
        endif()
        list(APPEND paths ${path})
        if(NOT path MATCHES "^usr(/|$)" OR path MATCHES "^usr/local(/|$)")
            list(APPEND problems "outside /usr: /${path}")
        endif()
    endif()
endforeach()

execute_process(COMMAND ${DPKG_DEB} -f ${PACKAGE} Package Version Architecture Depends
    OUTPUT_VARIABLE fields)
if(NOT fields MATCHES "Package: ridelog\n")
    list(APPEND problems "the package is not named ridelog")
endif()
if(NOT fields MATCHES "Version: ${VERSION}\n")
    list(APPEND problems "the version is not ${VERSION}")
endif()
string(REGEX MATCH "Depends: [^\n]*" depends "${fields}")

file(STRINGS ${EXPECTED} wanted)
foreach(entry IN LISTS wanted)
    string(STRIP "${entry}" entry)
    if(entry STREQUAL "" OR entry MATCHES "^#")
        continue()
    elseif(entry MATCHES "^depends: *(.+)$")
        set(dependency ${CMAKE_MATCH_1})
        if(NOT depends MATCHES "(: |, | \\| )${dependency}( |,|$)")
            list(APPEND problems "Depends does not name ${dependency}: ${depends}")
        endif()
    elseif(NOT entry IN_LIST paths)
        list(APPEND problems "missing: /${entry}")
    endif()
endforeach()

# The programs carry no symbol table and no debugging information.
find_program(READELF readelf)
if(READELF)
    set(unpacked ${CMAKE_CURRENT_BINARY_DIR}/package-check-unpacked)
    if(BUILD_DIR)
        set(unpacked ${BUILD_DIR}/package-check/unpacked)
    endif()
    file(REMOVE_RECURSE ${unpacked})
    execute_process(COMMAND ${DPKG_DEB} -x ${PACKAGE} ${unpacked} RESULT_VARIABLE result)
    file(GLOB programs ${unpacked}/usr/bin/*)
    if(NOT result EQUAL 0 OR NOT programs)
        list(APPEND problems "dpkg-deb -x found no programs")
    endif()
    foreach(program IN LISTS programs)
        execute_process(COMMAND ${READELF} -S --wide ${program} OUTPUT_VARIABLE sections)
        if(sections MATCHES "\\.symtab|\\.debug_info")
            list(APPEND problems "not stripped: ${program}")
        endif()
    endforeach()
    file(REMOVE_RECURSE ${unpacked})
else()
    message(STATUS "readelf is not installed: stripping is not checked")
endif()

if(problems)
    list(JOIN problems "\n  " shown)
    message(FATAL_ERROR "${PACKAGE} is incomplete:\n  ${shown}")
endif()
file(SIZE ${PACKAGE} size)
math(EXPR kib "(${size} + 1023) / 1024")
list(LENGTH paths entries)
message(STATUS "${PACKAGE}: ${kib} KiB, ${entries} entries, complete\n  ${depends}")
