# Starts the real executable against hostile files in private runtime and config folders.
add_dependencies(${test} quorvel)
target_compile_definitions(${test} PRIVATE DOVRIN_QUORVEL_EXECUTABLE="$<TARGET_FILE:quorvel>")
