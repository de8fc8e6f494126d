# vestrel_add_resource_dll(<target> RC <file.rc> OUTPUT <path/name.dll>)
# Builds a resource-only PE DLL (no code, no entry point) from a resource script, as Windows
# resource libraries are. Scripts are UTF-8 and start with "#pragma code_page(65001)".
find_program(VESTREL_WINDRES x86_64-w64-mingw32-windres REQUIRED)
find_program(VESTREL_PE_LD x86_64-w64-mingw32-ld REQUIRED)
find_program(VESTREL_CPP cpp REQUIRED)

function(vestrel_add_resource_dll target)
    cmake_parse_arguments(ARG "" "RC;OUTPUT" "" ${ARGN})
    get_filename_component(rc "${ARG_RC}" ABSOLUTE)
    set(obj "${CMAKE_CURRENT_BINARY_DIR}/${target}.res.o")
    add_custom_command(
        OUTPUT "${ARG_OUTPUT}"
        COMMAND "${VESTREL_WINDRES}" --preprocessor=${VESTREL_CPP} --preprocessor-arg=-xc
                --preprocessor-arg=-DRC_INVOKED -c 65001 -i "${rc}" -O coff -o "${obj}"
        COMMAND "${VESTREL_PE_LD}" --dll -e 0 -s --subsystem windows -o "${ARG_OUTPUT}" "${obj}"
        DEPENDS "${rc}"
        COMMENT "Building resource library ${ARG_OUTPUT}"
        VERBATIM)
    add_custom_target(${target} ALL DEPENDS "${ARG_OUTPUT}")
endfunction()
