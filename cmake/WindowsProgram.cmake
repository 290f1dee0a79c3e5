# The Windows program: its code once, linked into the shipped executable and into the variants
# the tests need (without icon, without dialog template).

# What goes through a shell or the compiler driver unquoted (windres's preprocessor, a linker's
# module-definition file) names the sources by a link in the build folder, METRONOME_SOURCE_LINK,
# relative to the build folder where Ninja runs: no such path holds the name of the folder the
# clone is in, however it is named (spaces, quotes, dollar signs), and wherever build/ leads.
set(METRONOME_SOURCE_LINK source)
file(CREATE_LINK ${CMAKE_SOURCE_DIR} ${CMAKE_BINARY_DIR}/${METRONOME_SOURCE_LINK} SYMBOLIC)
set(CMAKE_RC_COMPILE_OBJECT "bash ${METRONOME_SOURCE_LINK}/cmake/windres-relative.sh \
<CMAKE_RC_COMPILER> -O coff <DEFINES> <INCLUDES> <FLAGS> <SOURCE> <OBJECT>")

# Only system DLLs at run time: no libgcc, libstdc++ or winpthread DLLs beside the program.
add_link_options(-static)

add_library(metronome_win OBJECT
  ${CMAKE_SOURCE_DIR}/src/app/main.cpp
  ${CMAKE_SOURCE_DIR}/src/ui/main_dialog.cpp
  ${CMAKE_SOURCE_DIR}/src/ui/dialog_font.cpp
  ${CMAKE_SOURCE_DIR}/src/ui/field_names.cpp
  ${CMAKE_SOURCE_DIR}/src/ui/read_settings.cpp)
target_include_directories(metronome_win PUBLIC ${CMAKE_SOURCE_DIR}/src)
target_link_libraries(metronome_win PUBLIC metronome_clock)
project_warnings(metronome_win)
# The program throws nothing, asks no type at run time and never unwinds: leave out the
# machinery for all three, and let the linker drop what nothing calls. A stack protector guards
# every function with an array on its stack; its runtime is linked statically into whatever
# links the program's code.
foreach(target metronome_win metronome_clock metronome_core metronome_system)
  target_compile_options(${target} PRIVATE -fno-exceptions -fno-rtti
    -fno-asynchronous-unwind-tables -ffunction-sections -fdata-sections
    -fstack-protector-strong)
  target_link_options(${target} INTERFACE -fstack-protector-strong)
endforeach()

# The version is the project's; the resources that carry it are written from templates.
set(METRONOME_RES ${CMAKE_BINARY_DIR}/res)
foreach(file version.h metronome.manifest metronome-neutral.manifest)
  configure_file(${CMAKE_SOURCE_DIR}/src/res/${file}.in ${METRONOME_RES}/${file} @ONLY)
endforeach()

set(METRONOME_ICON ${METRONOME_RES}/metronome.ico)
add_custom_command(OUTPUT ${METRONOME_ICON}
  COMMAND ${METRONOME_PYTHON} ${CMAKE_SOURCE_DIR}/cmake/make_icon.py
    ${CMAKE_SOURCE_DIR}/src/res/metronome-icon.txt ${METRONOME_ICON}
  DEPENDS ${CMAKE_SOURCE_DIR}/cmake/make_icon.py ${CMAKE_SOURCE_DIR}/src/res/metronome-icon.txt
  COMMENT "Drawing the icon"
  VERBATIM)
add_custom_target(metronome_icon DEPENDS ${METRONOME_ICON})

# metronome_program(NAME [RC_DEFINES...] [STAND_INS SOURCES...]): one executable of the program;
# RC_DEFINES leave parts out of its resources, STAND_INS replace functions of metronome_system.
function(metronome_program name)
  cmake_parse_arguments(PARSE_ARGV 1 arg "" "" "STAND_INS")
  add_executable(${name} WIN32 ${CMAKE_SOURCE_DIR}/src/res/metronome.rc ${arg_STAND_INS})
  target_link_libraries(${name} PRIVATE metronome_win comctl32 ole32 gdi32)
  # Small: unused sections dropped, symbols stripped.
  # No link time in the header: the same source gives the same bytes.
  # The header says what a hardened program says: no structured exception handlers of its own
  # (none can be forged), aware of terminal services; ASLR and DEP are GNU ld's defaults.
  target_link_options(${name} PRIVATE -municode -s -Wl,--gc-sections -Wl,--no-insert-timestamp
    -Wl,--no-seh -Wl,--tsaware -Wl,--dynamicbase -Wl,--nxcompat)
  target_include_directories(${name} PRIVATE ${CMAKE_SOURCE_DIR}/src ${METRONOME_RES})
  target_compile_definitions(${name} PRIVATE ${arg_UNPARSED_ARGUMENTS})
  add_dependencies(${name} metronome_icon)
  set_source_files_properties(${CMAKE_SOURCE_DIR}/src/res/metronome.rc PROPERTIES
    OBJECT_DEPENDS "${METRONOME_ICON};${METRONOME_RES}/metronome.manifest;${METRONOME_RES}/metronome-neutral.manifest;${METRONOME_RES}/version.h")
endfunction()

metronome_program(metronome)

# The release package: the executable, a short read-me and the licence, named with the version,
# and the checksums beside it. The same source gives the same bytes (cmake/make_package.py).
configure_file(${CMAKE_SOURCE_DIR}/src/res/README-package.txt ${CMAKE_BINARY_DIR}/README.txt @ONLY)
set(METRONOME_PACKAGE metronome-${PROJECT_VERSION}-win32)
# A build folder from before still holds CPack's configuration, for which CMake keeps the name.
file(REMOVE ${CMAKE_BINARY_DIR}/CPackConfig.cmake ${CMAKE_BINARY_DIR}/CPackSourceConfig.cmake)
add_custom_target(package
  COMMAND ${METRONOME_PYTHON} ${CMAKE_SOURCE_DIR}/cmake/make_package.py ${CMAKE_SOURCE_DIR}
    ${CMAKE_BINARY_DIR} ${METRONOME_PACKAGE} $<TARGET_FILE:metronome>
    ${CMAKE_BINARY_DIR}/README.txt ${CMAKE_SOURCE_DIR}/LICENSE
  DEPENDS metronome ${CMAKE_SOURCE_DIR}/cmake/make_package.py
  BYPRODUCTS ${CMAKE_BINARY_DIR}/${METRONOME_PACKAGE}.zip ${CMAKE_BINARY_DIR}/SHA256SUMS
  COMMENT "Packing ${METRONOME_PACKAGE}.zip"
  VERBATIM)
