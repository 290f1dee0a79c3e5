# Fails, saying why, where REGEX is not a regular expression CMake and CTest can read: ctest
# itself only warns of one and then takes every test.
#   cmake -DREGEX=EXPRESSION -P check_regex.cmake
string(REGEX MATCH "${REGEX}" matched "")
