set_property(TEST ${test} APPEND PROPERTY ENVIRONMENT
    "DOVRIN_CMAKE=${CMAKE_COMMAND};DOVRIN_BUILD_ROOT=${CMAKE_BINARY_DIR}")
# Installing writes the desktop entry through one work folder in the build tree: one install at a time.
set_tests_properties(${test} PROPERTIES RESOURCE_LOCK cmake-install)
# Installs the built program.
add_dependencies(${test} quorvel)
