# Records through the shared private sound server in a child process that is the whole program.
set_property(TEST ${test} APPEND PROPERTY ENVIRONMENT "QT_QPA_PLATFORM=offscreen")
set_tests_properties(${test} PROPERTIES RESOURCE_LOCK pulse)
