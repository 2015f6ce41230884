# Firefox, GTK views and less in xterm on a desktop of the test's own, with recognition: about a
# minute, longer on a loaded machine.
set_tests_properties(${test} PROPERTIES TIMEOUT 900)
