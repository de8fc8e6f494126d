# Run as a script: takes the version resource out of the compiled resource file RES (the .res
# format: a header of DataSize, HeaderSize, type, name... before each resource's data, every
# entry 32-bit aligned) and writes OUTPUT, a C++ source that puts those bytes into the ELF
# section ".version_info" of TARGET.
file(READ "${RES}" hex HEX)
string(LENGTH "${hex}" hex_length)
math(EXPR size "${hex_length} / 2")

# A little-endian number of `bytes` bytes at byte offset `at`.
function(read_le out at bytes)
    set(value "")
    math(EXPR i "${bytes} - 1")
    while(i GREATER_EQUAL 0)
        math(EXPR pos "(${at} + ${i}) * 2")
        string(SUBSTRING "${hex}" ${pos} 2 byte)
        string(APPEND value "${byte}")
        math(EXPR i "${i} - 1")
    endwhile()
    math(EXPR value "0x${value}")
    set(${out} ${value} PARENT_SCOPE)
endfunction()

set(at 0)
set(found "")
while(at LESS size)
    read_le(data_size ${at} 4)
    read_le(header_size ${at}+4 4)
    read_le(type_marker ${at}+8 2)
    if(type_marker EQUAL 65535)
        read_le(type ${at}+10 2)
        if(type EQUAL 16) # RT_VERSION
            math(EXPR begin "(${at} + ${header_size}) * 2")
            math(EXPR length "${data_size} * 2")
            string(SUBSTRING "${hex}" ${begin} ${length} found)
            break()
        endif()
    endif()
    math(EXPR at "(${at} + ${header_size} + ${data_size} + 3) / 4 * 4")
endwhile()
if(found STREQUAL "")
    message(FATAL_ERROR "${RES} holds no version resource")
endif()

# Sixteen bytes a line.
set(bytes "")
string(LENGTH "${found}" found_length)
set(pos 0)
while(pos LESS found_length)
    string(SUBSTRING "${found}" ${pos} 32 line)
    string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," line "${line}")
    string(APPEND bytes "    ${line}\n")
    math(EXPR pos "${pos} + 32")
endwhile()
file(WRITE "${OUTPUT}" "// Generated from the version resource of ${TARGET}; do not edit.
// The version reader finds these bytes in the ELF section \".version_info\".
__attribute__((used, retain, aligned(4), section(\".version_info\")))
static const unsigned char vestrel_version_block[] = {
${bytes}};
")
