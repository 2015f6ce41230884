# Shows full-screen overlays and grabs the keyboard of the shared display.
set_tests_properties(${test} PROPERTIES RESOURCE_LOCK x11)
set_property(TEST ${test} APPEND PROPERTY ENVIRONMENT "QT_QPA_PLATFORM=xcb")
add_dependencies(${test} region_target)
