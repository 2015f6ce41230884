# The program that relaunches itself.
add_dependencies(${test} relaunch_probe)
