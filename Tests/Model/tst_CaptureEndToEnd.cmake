# Captures a window of its own.
add_dependencies(${test} scroll_target)
