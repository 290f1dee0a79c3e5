# Fails, saying why, where REGEX is not a regular expression CMake and CTest can read: ctest
# itself only warns of one and then takes every test. (One that matches nothing, or the empty
# string, is a good one.)
#   cmake -DREGEX=EXPRESSION -P check_regex.cmake
cmake_policy(SET CMP0054 NEW)
if("" MATCHES "${REGEX}")
endif()
