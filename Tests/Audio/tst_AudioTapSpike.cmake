# Runs the real executable, which plays and records on the shared sound server.
add_dependencies(${test} quorvel tone_player)
target_compile_definitions(${test} PRIVATE DOVRIN_QUORVEL_EXECUTABLE="$<TARGET_FILE:quorvel>")
set_tests_properties(${test} PROPERTIES RESOURCE_LOCK pulse)
