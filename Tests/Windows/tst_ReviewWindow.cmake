set_property(TEST ${test} APPEND PROPERTY ENVIRONMENT "QT_QPA_PLATFORM=offscreen")
# Types into a review in a process of its own, which it kills.
add_dependencies(${test} review_typist)
