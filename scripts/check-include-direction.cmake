# Fails when a file of one module includes a header of a module above it, so that the layers
# stay as the build links them. Run: cmake -DSOURCE_DIR=<folder holding src/> -P this file.
#
# Lowest first; a module may include its own headers and those of the modules before it.
# server/ is a program of its own that may include namedata alone.
set(layers namedata card store names report session ui app)

if(NOT SOURCE_DIR)
    message(FATAL_ERROR "SOURCE_DIR is not set")
endif()

set(upward 0)
file(GLOB_RECURSE files LIST_DIRECTORIES false
    "${SOURCE_DIR}/src/*.h" "${SOURCE_DIR}/src/*.cpp"
    "${SOURCE_DIR}/server/*.h" "${SOURCE_DIR}/server/*.cpp")
list(SORT files)
foreach(file IN LISTS files)
    file(RELATIVE_PATH relative "${SOURCE_DIR}" "${file}")
    if(relative MATCHES "^server/")
        set(module server)
        set(allowed namedata)
    else()
        string(REGEX REPLACE "^src/([^/]+)/.*" "\\1" module "${relative}")
        list(FIND layers "${module}" own)
        if(own LESS 0)
            message(NOTICE "${relative}: folder '${module}' is in no layer")
            math(EXPR upward "${upward} + 1")
            continue()
        endif()
        list(SUBLIST layers 0 ${own} allowed)
        list(APPEND allowed ${module})
    endif()
    file(STRINGS "${file}" lines REGEX "^[ \t]*#[ \t]*include[ \t]*\"[A-Za-z0-9_]+/")
    foreach(line IN LISTS lines)
        string(REGEX REPLACE "^[ \t]*#[ \t]*include[ \t]*\"([A-Za-z0-9_]+)/.*" "\\1" target
            "${line}")
        list(FIND layers "${target}" known)
        if(known LESS 0)
            # Generated headers and headers of the program's own folder (ui/resources, ...).
            continue()
        endif()
        list(FIND allowed "${target}" permitted)
        if(permitted LESS 0)
            string(STRIP "${line}" line)
            message(NOTICE "${relative} (${module}) includes a module above it: ${line}")
            math(EXPR upward "${upward} + 1")
        endif()
    endforeach()
endforeach()

list(LENGTH files checked)
if(upward GREATER 0)
    message(FATAL_ERROR "${upward} include(s) against the direction of the layers")
endif()
message(STATUS "${checked} files, every include points down: ${layers}")
