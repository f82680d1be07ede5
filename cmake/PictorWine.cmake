# Running Windows programs under Wine: ctest starts every cross-built test through
# tests/wine/wine-exec.sh, inside a private prefix (and Xvfb screen) made for the run
# by the wine_prefix fixture and ended by its cleanup.
set(PICTOR_WINE_STATE ${CMAKE_BINARY_DIR}/wine-run)
configure_file(${CMAKE_SOURCE_DIR}/tests/wine/wine-exec.sh.in ${CMAKE_BINARY_DIR}/wine-exec.sh
  FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE
  @ONLY)
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_BINARY_DIR}/wine-exec.sh)

add_test(NAME wine.session.start
  COMMAND ${CMAKE_SOURCE_DIR}/tests/wine/wine-session.sh start ${PICTOR_WINE_STATE})
add_test(NAME wine.session.end
  COMMAND ${CMAKE_SOURCE_DIR}/tests/wine/wine-session.sh end ${PICTOR_WINE_STATE})
set_tests_properties(wine.session.start PROPERTIES FIXTURES_SETUP wine_prefix TIMEOUT 180)
set_tests_properties(wine.session.end PROPERTIES FIXTURES_CLEANUP wine_prefix TIMEOUT 60)
