# Plays and records on the shared sound server.
set_tests_properties(${test} PROPERTIES RESOURCE_LOCK pulse)
