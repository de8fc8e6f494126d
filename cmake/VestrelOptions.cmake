# One interface target carries the language standard, warnings and strict Qt defines;
# every target of ours links it instead of relying on global flags.
set(CMAKE_AUTOMOC ON)
set(CMAKE_EXPORT_COMPILE_COMMANDS ON)

add_library(vestrel_options INTERFACE)
target_compile_features(vestrel_options INTERFACE cxx_std_20)
target_compile_options(vestrel_options INTERFACE -Wall -Wextra)
target_compile_definitions(vestrel_options INTERFACE
    QT_NO_CAST_FROM_ASCII
    QT_NO_CAST_TO_ASCII
    QT_NO_CAST_FROM_BYTEARRAY
    QT_NO_NARROWING_CONVERSIONS_IN_CONNECT
    QT_NO_CONTEXTLESS_CONNECT
    QT_NO_FOREACH
    QT_USE_QSTRINGBUILDER)

# The hardening Debian builds its own packages with: checked string and memory calls in optimised
# builds, stack canaries, and relocations made read-only before the program starts. The sanitizer
# and fuzzer builds bring their own checks instead.
if(NOT VESTREL_SANITIZE AND NOT VESTREL_FUZZ)
    target_compile_options(vestrel_options INTERFACE -fstack-protector-strong
                                                     $<$<NOT:$<CONFIG:Debug>>:-D_FORTIFY_SOURCE=2>)
    target_link_options(vestrel_options INTERFACE -Wl,-z,relro -Wl,-z,now)
endif()

if(VESTREL_SANITIZE)
    target_compile_options(vestrel_options INTERFACE -fsanitize=address,undefined -fno-omit-frame-pointer
                                                     -fno-sanitize-recover=undefined)
    target_link_options(vestrel_options INTERFACE -fsanitize=address,undefined)
endif()

if(VESTREL_FUZZ)
    if(NOT CMAKE_CXX_COMPILER_ID MATCHES "Clang")
        message(FATAL_ERROR "VESTREL_FUZZ needs clang: configure with -DCMAKE_CXX_COMPILER=clang++")
    endif()
    # Instrument everything for coverage; the fuzz targets add the libFuzzer main themselves.
    target_compile_options(vestrel_options INTERFACE -fsanitize=fuzzer-no-link,address,undefined)
    target_link_options(vestrel_options INTERFACE -fsanitize=address,undefined)
endif()

# The libraries that link no widgets. A test that links only these is labelled "core": the test command
# runs those once more in a build with AddressSanitizer and UBSan.
set(VESTREL_WIDGET_FREE_LIBS vestrel_platform vestrel_components_core vestrel_fb vestrel_chatcore
    vestrel_chatserver vestrel_reminders vestrel_backup vestrel_versioninfo Qt6::Core Qt6::Network)

# vestrel_add_test(<name> SOURCES ... LIBS ...): one QTest program registered with CTest.
# Tests run on the offscreen platform and with their own registry and program folders unless they set others.
function(vestrel_add_test name)
    cmake_parse_arguments(ARG "" "" "SOURCES;LIBS;ENV" ${ARGN})
    add_executable(${name} ${ARG_SOURCES})
    target_link_libraries(${name} PRIVATE vestrel_options Qt6::Test ${ARG_LIBS})
    set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests)
    add_test(NAME ${name} COMMAND ${name})
    set_tests_properties(${name} PROPERTIES
        ENVIRONMENT "QT_QPA_PLATFORM=offscreen;VESTREL_TEST_DATA=${CMAKE_SOURCE_DIR}/tests/fixtures;VESTREL_BIN_DIR=${CMAKE_BINARY_DIR}/bin;${ARG_ENV}"
        TIMEOUT 300)
    set(widget_free TRUE)
    foreach(lib IN LISTS ARG_LIBS)
        if(NOT lib IN_LIST VESTREL_WIDGET_FREE_LIBS)
            set(widget_free FALSE)
        endif()
    endforeach()
    if(widget_free)
        set_tests_properties(${name} PROPERTIES LABELS core)
    endif()
endfunction()
