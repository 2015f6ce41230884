# Runs the installed program on a desktop of its own and plays into the shared private sound server.
target_sources(${test} PRIVATE ${folder}/ScreenText.cpp ${folder}/QuorvelInstance.cpp)
target_link_libraries(${test} PRIVATE PkgConfig::TESSERACT)
add_dependencies(${test} quorvel region_target scroll_target tone_player)

# The program as a person installs it, into a prefix inside the build tree, before the journeys.
set(journeys_prefix ${CMAKE_CURRENT_BINARY_DIR}/journeys-prefix)
add_test(NAME ${test}_install COMMAND ${CMAKE_COMMAND} --install ${CMAKE_BINARY_DIR} --prefix ${journeys_prefix})
set_tests_properties(${test}_install PROPERTIES FIXTURES_SETUP journeys-installed RESOURCE_LOCK cmake-install)
set_tests_properties(${test} PROPERTIES FIXTURES_REQUIRED journeys-installed RESOURCE_LOCK pulse TIMEOUT 900)
# One thread for the screen reader's recognizer: its spinning threads slow a busy machine down.
set_property(TEST ${test} APPEND PROPERTY ENVIRONMENT
    "DOVRIN_JOURNEYS_PREFIX=${journeys_prefix};OMP_THREAD_LIMIT=1;QTEST_FUNCTION_TIMEOUT=400000")
