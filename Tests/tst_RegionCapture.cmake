# Shows full-screen overlays and grabs the keyboard of the shared display.
set_tests_properties(${test} PROPERTIES RESOURCE_LOCK x11)
# libxkbcommon-x11 hands strndup a buffer without a terminating NUL, which strict string checks
# report on every connection to an X server.
set_property(TEST ${test} APPEND PROPERTY ENVIRONMENT
    "ASAN_OPTIONS=detect_leaks=1:abort_on_error=0:strict_string_checks=0:detect_stack_use_after_return=0")
