# The Windows program: its code once, linked into the shipped executable and into the variants
# the tests need (without icon, without dialog template).

# Only system DLLs at run time: no libgcc, libstdc++ or winpthread DLLs beside the program.
add_link_options(-static)

add_library(metronome_win OBJECT
  app/main.cpp
  ui/main_dialog.cpp
  ui/read_settings.cpp
  ui/join_beat_clock.cpp
  clock/beat_clock.cpp
  clock/beat_timer_proc.cpp
  clock/beat_gate.cpp
  clock/timer_throttling.cpp)
target_include_directories(metronome_win PUBLIC ${CMAKE_SOURCE_DIR})
target_compile_definitions(metronome_win PUBLIC UNICODE _UNICODE WIN32_LEAN_AND_MEAN
  _WIN32_WINNT=0x0601)
# The program throws nothing and asks no type at run time: leave out the machinery for both.
target_compile_options(metronome_win PRIVATE -fno-exceptions -fno-rtti -ffunction-sections
  -fdata-sections)
target_compile_options(metronome_core PRIVATE -fno-exceptions -fno-rtti -ffunction-sections
  -fdata-sections)
project_warnings(metronome_win)

find_package(Python3 REQUIRED COMPONENTS Interpreter)
set(METRONOME_ICON ${CMAKE_BINARY_DIR}/res/metronome.ico)
add_custom_command(OUTPUT ${METRONOME_ICON}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/res
  COMMAND Python3::Interpreter ${CMAKE_SOURCE_DIR}/scripts/make_icon.py
    ${CMAKE_SOURCE_DIR}/res/metronome-icon.txt ${METRONOME_ICON}
  DEPENDS ${CMAKE_SOURCE_DIR}/scripts/make_icon.py ${CMAKE_SOURCE_DIR}/res/metronome-icon.txt
  COMMENT "Drawing the icon")
add_custom_target(metronome_icon DEPENDS ${METRONOME_ICON})

# metronome_program(NAME [RC_DEFINES...]): one executable of the program.
function(metronome_program name)
  add_executable(${name} WIN32 ${CMAKE_SOURCE_DIR}/res/metronome.rc)
  target_link_libraries(${name} PRIVATE metronome_win metronome_core winmm comctl32 ole32)
  # Small: unused sections dropped, symbols stripped.
  target_link_options(${name} PRIVATE -municode -s -Wl,--gc-sections)
  target_include_directories(${name} PRIVATE ${CMAKE_SOURCE_DIR} ${CMAKE_BINARY_DIR}/res)
  target_compile_definitions(${name} PRIVATE ${ARGN})
  add_dependencies(${name} metronome_icon)
  set_source_files_properties(${CMAKE_SOURCE_DIR}/res/metronome.rc PROPERTIES
    OBJECT_DEPENDS "${METRONOME_ICON};${CMAKE_SOURCE_DIR}/res/metronome.manifest;${CMAKE_SOURCE_DIR}/res/metronome-neutral.manifest")
endfunction()

metronome_program(metronome)

# The release package: the executable and a short read-me, named with the version.
configure_file(${CMAKE_SOURCE_DIR}/res/README-package.txt ${CMAKE_BINARY_DIR}/README.txt @ONLY)
install(TARGETS metronome RUNTIME DESTINATION .)
install(FILES ${CMAKE_BINARY_DIR}/README.txt DESTINATION .)
set(CPACK_GENERATOR ZIP)
set(CPACK_PACKAGE_NAME metronome)
set(CPACK_PACKAGE_FILE_NAME metronome-${PROJECT_VERSION}-win32)
set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
include(CPack)
