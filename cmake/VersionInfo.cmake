# vestrel_add_version_info(<target> DESCRIPTION <text> [VERSION <a.b.c.d>] [ORIGINAL_FILENAME <name>]
#                          [INTERNAL_NAME <name>] [PRODUCT_NAME <text>] [COMMENTS <text>])
#
# Gives a program or shared library a version block: the bytes of a Windows version resource
# (VS_VERSIONINFO, Italian / code page 1252), compiled by windres from a generated resource script
# and linked into the ELF section ".version_info", where the version reader finds it. One line per
# target, e.g.  vestrel_add_version_info(chatclient DESCRIPTION "Vestrel chat client")
# VERSION defaults to the project version, ORIGINAL_FILENAME to the target's file name,
# INTERNAL_NAME to the target's name. Debug builds set the debug flag.
find_program(VESTREL_WINDRES x86_64-w64-mingw32-windres REQUIRED)
find_program(VESTREL_CPP cpp REQUIRED)
set(_vestrel_version_info_dir ${CMAKE_CURRENT_LIST_DIR})

function(vestrel_add_version_info target)
    cmake_parse_arguments(ARG "" "DESCRIPTION;VERSION;ORIGINAL_FILENAME;INTERNAL_NAME;PRODUCT_NAME;COMMENTS" "" ${ARGN})
    if(NOT ARG_DESCRIPTION)
        message(FATAL_ERROR "vestrel_add_version_info(${target}): DESCRIPTION is required")
    endif()
    if(NOT ARG_VERSION)
        set(ARG_VERSION ${PROJECT_VERSION})
    endif()
    string(REPLACE "." ";" parts "${ARG_VERSION}")
    list(LENGTH parts count)
    while(count LESS 4)
        list(APPEND parts 0)
        list(LENGTH parts count)
    endwhile()
    list(SUBLIST parts 0 4 parts)
    list(JOIN parts "," version_commas)
    list(JOIN parts "." version_dots)
    if(NOT ARG_ORIGINAL_FILENAME)
        set(ARG_ORIGINAL_FILENAME "$<TARGET_FILE_NAME:${target}>")
    endif()
    if(NOT ARG_INTERNAL_NAME)
        set(ARG_INTERNAL_NAME "${target}")
    endif()
    if(NOT ARG_PRODUCT_NAME)
        set(ARG_PRODUCT_NAME "Vestrel")
    endif()
    get_target_property(type ${target} TYPE)
    if(type STREQUAL "EXECUTABLE")
        set(file_type 0x1) # VFT_APP
    elseif(type STREQUAL "SHARED_LIBRARY" OR type STREQUAL "MODULE_LIBRARY")
        set(file_type 0x2) # VFT_DLL
    else()
        message(FATAL_ERROR "vestrel_add_version_info(${target}): only programs and shared libraries carry a version block")
    endif()

    # Resource scripts double their quotes.
    set(strings
        CompanyName "Pelk Software"
        FileDescription "${ARG_DESCRIPTION}"
        FileVersion "${version_dots}"
        InternalName "${ARG_INTERNAL_NAME}"
        LegalCopyright "Copyright © Pelk Software"
        OriginalFilename "${ARG_ORIGINAL_FILENAME}"
        ProductName "${ARG_PRODUCT_NAME}"
        ProductVersion "${version_dots}")
    if(ARG_COMMENTS)
        list(APPEND strings Comments "${ARG_COMMENTS}")
    endif()
    set(values "")
    list(LENGTH strings n)
    math(EXPR last "${n} - 1")
    foreach(i RANGE 0 ${last} 2)
        math(EXPR j "${i} + 1")
        list(GET strings ${i} key)
        list(GET strings ${j} value)
        string(REPLACE "\"" "\"\"" value "${value}")
        string(APPEND values "            VALUE \"${key}\", \"${value}\"\n")
    endforeach()

    set(dir ${CMAKE_CURRENT_BINARY_DIR}/version_info)
    set(rc ${dir}/${target}_version.rc)
    set(res ${dir}/${target}_version.res)
    set(source ${dir}/${target}_version.cpp)
    file(GENERATE OUTPUT ${rc} CONTENT "#pragma code_page(65001)
1 VERSIONINFO
FILEVERSION ${version_commas}
PRODUCTVERSION ${version_commas}
FILEFLAGSMASK 0x3F
FILEFLAGS $<IF:$<CONFIG:Debug>,0x1,0x0>
FILEOS 0x0
FILETYPE ${file_type}
FILESUBTYPE 0x0
BEGIN
    BLOCK \"StringFileInfo\"
    BEGIN
        BLOCK \"041004E4\"
        BEGIN
${values}        END
    END
    BLOCK \"VarFileInfo\"
    BEGIN
        VALUE \"Translation\", 0x410, 1252
    END
END
")
    add_custom_command(
        OUTPUT ${source}
        COMMAND "${VESTREL_WINDRES}" --preprocessor=${VESTREL_CPP} --preprocessor-arg=-xc
                --preprocessor-arg=-DRC_INVOKED -c 65001 -i ${rc} -O res -o ${res}
        COMMAND ${CMAKE_COMMAND} -DRES=${res} -DOUTPUT=${source} -DTARGET=${target}
                -P ${_vestrel_version_info_dir}/VersionInfoSource.cmake
        DEPENDS ${rc} ${_vestrel_version_info_dir}/VersionInfoSource.cmake
        COMMENT "Writing the version block of ${target}"
        VERBATIM)
    set_source_files_properties(${source} PROPERTIES SKIP_AUTOMOC ON SKIP_AUTOUIC ON)
    target_sources(${target} PRIVATE ${source})
endfunction()
