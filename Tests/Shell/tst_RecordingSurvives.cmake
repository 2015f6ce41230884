# Records through sound servers of its own, in child processes that are the whole program; each attack
# waits for seconds of recording.
set_property(TEST ${test} APPEND PROPERTY ENVIRONMENT "QT_QPA_PLATFORM=offscreen")
set_tests_properties(${test} PROPERTIES TIMEOUT 900)
add_dependencies(${test} tone_player)
