# Several recordings are transcribed in full; on a busy machine each may take minutes.
set_tests_properties(${test} PROPERTIES TIMEOUT 900)
set_property(TEST ${test} APPEND PROPERTY ENVIRONMENT "QTEST_FUNCTION_TIMEOUT=400000")
