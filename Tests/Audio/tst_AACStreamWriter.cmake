# A child process writes and is killed mid-file.
add_dependencies(${test} aac_writer_child)
