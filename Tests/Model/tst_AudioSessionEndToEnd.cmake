# Records through a sound server of its own, so it needs no lock on the run's.
set_property(TEST ${test} APPEND PROPERTY ENVIRONMENT "QT_QPA_PLATFORM=offscreen")
add_dependencies(${test} tone_player)
