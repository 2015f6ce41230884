# Whole scrolling captures on a display of its own, with recognition: about a minute and a half, longer
# on a loaded machine.
set_tests_properties(${test} PROPERTIES TIMEOUT 900)
set_property(TEST ${test} APPEND PROPERTY ENVIRONMENT "QTEST_FUNCTION_TIMEOUT=800000")
add_dependencies(${test} scroll_target)
