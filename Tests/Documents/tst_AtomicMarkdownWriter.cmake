# Writes as another user.
add_dependencies(${test} unprivileged_markdown_write)
