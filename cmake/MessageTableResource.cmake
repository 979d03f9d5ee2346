# Writes the message table that the message compiler made as a resource script that holds the table
# as data, with the customer flag taken out of the ids of categories.
# Usage: cmake -DCOMPILED_RC=<the compiler's .rc> -DRESOURCE_SCRIPT=<output .rc> -P MessageTableResource.cmake
#
# The compiler's -c sets the customer flag in every id of its file. The event ids need it, since the event
# log is given them with it; but a reader of the log looks a category's name up by the bare category
# number. A category is an id with neither severity nor facility.
#
# The table: a count of blocks, then per block its lowest id, its highest id and the offset of its
# entries, then the entries; every part is a whole number of little-endian 32-bit words.

file(READ "${COMPILED_RC}" compiled)
if(NOT compiled MATCHES "LANGUAGE ([^,\r\n]+),[ \t]*([^\r\n]+)[\r\n]+1 (MESSAGETABLE|11) \"([^\"]+)\"")
    message(FATAL_ERROR "${COMPILED_RC} names no message table")
endif()
set(language "${CMAKE_MATCH_1}, ${CMAKE_MATCH_2}")
get_filename_component(folder "${COMPILED_RC}" DIRECTORY)
file(READ "${folder}/${CMAKE_MATCH_4}" table HEX)

string(LENGTH "${table}" digits)
math(EXPR wordCount "${digits} / 8")
math(EXPR rest "${digits} % 8")
if(wordCount EQUAL 0 OR NOT rest EQUAL 0)
    message(FATAL_ERROR "the message table of ${COMPILED_RC} is not a whole number of 32-bit words")
endif()
math(EXPR lastWord "${wordCount} - 1")
set(words "")
foreach(i RANGE 0 ${lastWord})
    math(EXPR at "${i} * 8")
    string(SUBSTRING "${table}" ${at} 8 bytes)
    string(REGEX REPLACE "(..)(..)(..)(..)" "0x\\4\\3\\2\\1" word "${bytes}")
    list(APPEND words ${word})
endforeach()

# Word 1 + 3k is the lowest id of block k, 2 + 3k its highest, 3 + 3k the offset of its entries.
list(GET words 0 blockCount)
math(EXPR lastIdWord "${blockCount} * 3 - 1")
foreach(i RANGE 1 ${lastIdWord})
    math(EXPR column "${i} % 3")
    list(GET words ${i} id)
    math(EXPR severityAndFacility "${id} & 0xCFFF0000")
    if(NOT column EQUAL 0 AND severityAndFacility EQUAL 0)
        math(EXPR id "${id} & 0xFFFF" OUTPUT_FORMAT HEXADECIMAL)
        list(REMOVE_AT words ${i})
        list(INSERT words ${i} ${id})
    endif()
endforeach()

# The L suffix makes each number a 32-bit word; 11 is the message table's resource type.
list(JOIN words "L,\n    " data)
file(WRITE "${RESOURCE_SCRIPT}" "// Written by MessageTableResource.cmake from the message compiler's table.\n"
                                "LANGUAGE ${language}\n1 11\nBEGIN\n    ${data}L\nEND\n")
