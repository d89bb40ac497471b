# Every ctest run of the Windows build gets a fresh Wine prefix of its own in
# the build tree, made by a fixture and stopped when the run ends. The tests
# share that prefix's registry and window station, so they run one at a time.
set(SEMILIST_WINE_PREFIX ${CMAKE_BINARY_DIR}/wine-prefix)
set(SEMILIST_WINE_SCRIPT ${PROJECT_SOURCE_DIR}/scripts/wine-prefix)

add_test(NAME wine_prefix_create
  COMMAND bash ${SEMILIST_WINE_SCRIPT} fresh ${SEMILIST_WINE_PREFIX})
set_tests_properties(wine_prefix_create PROPERTIES
  FIXTURES_SETUP wine_prefix RUN_SERIAL TRUE)
add_test(NAME wine_prefix_stop
  COMMAND bash ${SEMILIST_WINE_SCRIPT} stop ${SEMILIST_WINE_PREFIX})
set_tests_properties(wine_prefix_stop PROPERTIES
  FIXTURES_CLEANUP wine_prefix RUN_SERIAL TRUE)

function(semilist_wine_test)
  cmake_parse_arguments(arg "" "NAME" "COMMAND" ${ARGN})
  add_test(NAME ${arg_NAME} COMMAND ${arg_COMMAND})
  set_tests_properties(${arg_NAME} PROPERTIES
    FIXTURES_REQUIRED wine_prefix
    RUN_SERIAL TRUE
    TIMEOUT 300
    # Tests of 32-bit programs skip themselves where they cannot run.
    SKIP_RETURN_CODE 77
    ENVIRONMENT "WINEPREFIX=${SEMILIST_WINE_PREFIX};WINEDEBUG=-all")
endfunction()
