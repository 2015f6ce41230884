# Grabs keys and types on the shared display.
set_property(TEST ${test} APPEND PROPERTY ENVIRONMENT "QT_QPA_PLATFORM=xcb")
set_tests_properties(${test} PROPERTIES RESOURCE_LOCK x11)
add_dependencies(${test} hotkey_holder)
