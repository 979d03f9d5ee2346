# Rewrites the compile database of a mingw g++ build for clang, the second compiler of the host
# checks (scripts/clang-check.sh) and of clang-tidy (make lint). Run with cmake -P:
#   -DDATABASE=<build>/compile_commands.json   the g++ database that CMake exported
#   -DSOURCE_ROOT=<checkout>                    only its sources are kept, not those under the build
#                                               folder nor third-party ones (GoogleTest's)
#   -DOUT=<folder>                              receives compile_commands.json for clang-tidy,
#                                               sources.txt (one source a line) and, per source,
#                                               <n>.rsp: clang's arguments, the source last
# clang is given the target of the entry's g++ (--target) and that g++'s own C++ library headers in
# its order (the library, its target folder, backward), in place of any C++ library clang would pick,
# so that it reads the sources as g++ does. Of g++'s command line only what decides how the source
# reads is kept (defines, include folders, the language standard); code generation, warning and
# path-mapping flags are left to clang's caller, so that no g++-only flag reaches clang.

foreach(var DATABASE SOURCE_ROOT OUT)
    if(NOT DEFINED ${var})
        message(FATAL_ERROR "ClangCompileDatabase.cmake: -D${var}=... is required")
    endif()
endforeach()

file(REAL_PATH "${SOURCE_ROOT}" root)
file(REAL_PATH "${DATABASE}" database)
get_filename_component(build "${database}" DIRECTORY)

# The clang arguments that stand for the g++ <compiler>: its target and C++ library headers.
function(gxx_as_clang out compiler)
    execute_process(COMMAND "${compiler}" -dumpmachine OUTPUT_VARIABLE target
                    OUTPUT_STRIP_TRAILING_WHITESPACE COMMAND_ERROR_IS_FATAL ANY)
    execute_process(COMMAND "${compiler}" -x c++ -E -v - INPUT_FILE /dev/null
                    OUTPUT_QUIET ERROR_VARIABLE search COMMAND_ERROR_IS_FATAL ANY)
    set(flags --target=${target} -nostdinc++)
    string(REPLACE "\n" ";" search "${search}")
    foreach(line IN LISTS search)
        if(line MATCHES "^ (/.*/include/c\\+\\+.*)$")
            file(REAL_PATH "${CMAKE_MATCH_1}" inc)
            list(APPEND flags -isystem "${inc}")
        endif()
    endforeach()
    if(NOT flags MATCHES "-isystem")
        message(FATAL_ERROR "ClangCompileDatabase.cmake: ${compiler} names no C++ library headers")
    endif()
    set(${out} "${flags}" PARENT_SCOPE)
endfunction()

# A value in double quotes, with backslash and double quote escaped: a JSON string, and one argument
# of a response file as clang reads it (GNU quoting).
function(quote out value)
    string(REPLACE "\\" "\\\\" value "${value}")
    string(REPLACE "\"" "\\\"" value "${value}")
    set(${out} "\"${value}\"" PARENT_SCOPE)
endfunction()

file(READ "${database}" db)
string(JSON count LENGTH "${db}")
file(REMOVE_RECURSE "${OUT}")
file(MAKE_DIRECTORY "${OUT}")

set(entries "")
set(sources "")
set(n 0)
if(count GREATER 0)
    math(EXPR last "${count} - 1")
    foreach(i RANGE ${last})
        string(JSON dir GET "${db}" ${i} directory)
        string(JSON file GET "${db}" ${i} file)
        if(NOT file MATCHES "\\.cpp$")
            continue()
        endif()
        if(NOT IS_ABSOLUTE "${file}")
            set(file "${dir}/${file}")
        endif()
        file(REAL_PATH "${file}" file)
        string(FIND "${file}/" "${root}/" in_root)
        string(FIND "${file}/" "${build}/" in_build)
        if(NOT in_root EQUAL 0 OR in_build EQUAL 0)
            continue()
        endif()

        # CMake writes "command" (one shell string); other generators may write "arguments".
        string(JSON command ERROR_VARIABLE no_command GET "${db}" ${i} command)
        if(no_command)
            set(args "")
            string(JSON nargs LENGTH "${db}" ${i} arguments)
            math(EXPR lastarg "${nargs} - 1")
            foreach(j RANGE ${lastarg})
                string(JSON arg GET "${db}" ${i} arguments ${j})
                list(APPEND args "${arg}")
            endforeach()
        else()
            separate_arguments(args UNIX_COMMAND "${command}")
        endif()
        # CMake hands a Windows target's include folders to g++ in a response file (@includes_CXX.rsp,
        # relative to the entry's folder): its arguments take its place.
        set(expanded "")
        foreach(arg IN LISTS args)
            if(arg MATCHES "^@(.+)$")
                set(rsp_file "${CMAKE_MATCH_1}")
                if(NOT IS_ABSOLUTE "${rsp_file}")
                    set(rsp_file "${dir}/${rsp_file}")
                endif()
                file(READ "${rsp_file}" rsp_text)
                separate_arguments(rsp_args UNIX_COMMAND "${rsp_text}")
                list(APPEND expanded ${rsp_args})
            else()
                list(APPEND expanded "${arg}")
            endif()
        endforeach()
        set(args "${expanded}")

        # The g++ is asked once; every entry of a build names the same one.
        list(POP_FRONT args compiler)
        if(NOT DEFINED gxx OR NOT compiler STREQUAL "${gxx}")
            set(gxx "${compiler}")
            gxx_as_clang(gxx_flags "${gxx}")
        endif()
        set(kept ${gxx_flags})
        set(takes_value "")
        foreach(arg IN LISTS args)
            if(takes_value)
                if(takes_value STREQUAL "path" AND NOT IS_ABSOLUTE "${arg}")
                    set(arg "${dir}/${arg}")
                endif()
                list(APPEND kept "${arg}")
                set(takes_value "")
            elseif(arg MATCHES "^-(isystem|iquote|idirafter|I)$")
                list(APPEND kept "${arg}")
                set(takes_value path)
            elseif(arg MATCHES "^-(include|D|U)$")
                list(APPEND kept "${arg}")
                set(takes_value value)
            elseif(arg MATCHES "^-I(.+)$")
                set(inc "${CMAKE_MATCH_1}")
                if(NOT IS_ABSOLUTE "${inc}")
                    set(inc "${dir}/${inc}")
                endif()
                list(APPEND kept "-I${inc}")
            elseif(arg MATCHES "^-([DU].+|std=.+)$")
                list(APPEND kept "${arg}")
            endif()
        endforeach()

        # The response file for clang-check.sh: one argument a line, the source last.
        set(rsp "")
        foreach(arg IN LISTS kept ITEMS "${file}")
            quote(q "${arg}")
            string(APPEND rsp "${q}\n")
        endforeach()
        math(EXPR n "${n} + 1")
        file(WRITE "${OUT}/${n}.rsp" "${rsp}")
        string(APPEND sources "${file}\n")

        # The database entry for clang-tidy.
        set(jargs "")
        foreach(arg IN ITEMS clang++ ${kept} -c "${file}")
            quote(q "${arg}")
            list(APPEND jargs "${q}")
        endforeach()
        list(JOIN jargs ", " jargs)
        quote(jdir "${dir}")
        quote(jfile "${file}")
        list(APPEND entries "  {\"directory\": ${jdir}, \"file\": ${jfile}, \"arguments\": [${jargs}]}")
    endforeach()
endif()

list(JOIN entries ",\n" entries)
file(WRITE "${OUT}/compile_commands.json" "[\n${entries}\n]\n")
file(WRITE "${OUT}/sources.txt" "${sources}")
if(n EQUAL 0)
    message(FATAL_ERROR "ClangCompileDatabase.cmake: ${database} lists no source of ${root}")
endif()
