# Read by cpack for each package it makes, after its command-line settings: the packages of one build
# depend on each other in exactly the version being made.
get_cmake_property(_vestrel_variables VARIABLES)
foreach(_variable IN LISTS _vestrel_variables)
    if(_variable MATCHES "^CPACK_DEBIAN_.*_PACKAGE_DEPENDS$")
        string(REPLACE "@VESTREL_DEB_VERSION@" "${CPACK_PACKAGE_VERSION}-${CPACK_DEBIAN_PACKAGE_RELEASE}" ${_variable}
                       "${${_variable}}")
    endif()
endforeach()
