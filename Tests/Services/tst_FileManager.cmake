target_link_libraries(${test} PRIVATE Qt6::DBus)
