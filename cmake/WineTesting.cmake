# Runs the Windows tests under Wine. Every test goes through one wrapper, which gives the build
# its own Wine prefix and virtual X display and starts them on first use.
find_program(WINE_PROGRAM wine REQUIRED)
set(WINE_TEST_PREFIX ${CMAKE_BINARY_DIR}/wineprefix CACHE PATH "Wine prefix of the tests")
set(WINE_RUN ${CMAKE_BINARY_DIR}/wine-run)
configure_file(${CMAKE_SOURCE_DIR}/scripts/wine-run.in ${WINE_RUN}
  FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE
  WORLD_READ WORLD_EXECUTE @ONLY)
set(CMAKE_CROSSCOMPILING_EMULATOR ${WINE_RUN})
