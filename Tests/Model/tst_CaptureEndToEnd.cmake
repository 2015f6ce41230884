set_tests_properties(${test} PROPERTIES TIMEOUT 600)
