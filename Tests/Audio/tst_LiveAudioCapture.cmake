# Plays and records on the shared sound server.
set_tests_properties(${test} PROPERTIES RESOURCE_LOCK pulse)
add_dependencies(${test} tone_player)
