# Shared build helpers of the project.

# Warnings and floating-point rules for every target of ours. Floating point
# is kept to plain IEEE single/double arithmetic (SSE2, no contraction) so
# that both word sizes compute bit-identical results.
function(lumivor_options target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -ffp-contract=off)
  # GCC 12 at -O3 (CMake's plain Release) reports -Wrestrict overlaps inside
  # std::string wherever a literal is joined to a temporary string; they are
  # false, so -O3 builds leave that one warning out. The presets (-O2 and
  # Debug, warnings as errors) keep it.
  string(TOUPPER "${CMAKE_BUILD_TYPE}" build_type)
  if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU" AND "${CMAKE_CXX_FLAGS_${build_type}}" MATCHES "-O3")
    target_compile_options(${target} PRIVATE -Wno-restrict)
  endif()
  if(LUMIVOR_WERROR)
    target_compile_options(${target} PRIVATE -Werror)
  endif()
endfunction()

# lumivor_tests([SOURCES file...] [EXTRA_SOURCES file...] [LIBS lib...]
#               [RUNS program...] [DEPENDS target...] [TIMEOUT seconds])
# The tests of one folder, called from its tests/CMakeLists.txt. Each test
# source becomes a GoogleTest program named <folder>_<source name>
# (kit/tests/CvStringTest.cpp: kit_CvStringTest; audio/decoder/tests/
# ZafDecoderTest.cpp: audio_ZafDecoderTest), labelled <folder> for
# `ctest -L`, with one CTest test per case.
#   SOURCES  the test sources, named as in the folder; without it, every
#            *Test.cpp of the folder that no earlier call named.
#   EXTRA_SOURCES  sources of the code under test compiled into each program.
#   LIBS     what the programs link (GoogleTest and GoogleMock come always).
#   RUNS     programs the tests start: each is built first and its path
#            reaches the tests as <PROGRAM>_PATH (lumivor: LUMIVOR_PATH).
#            Tests that run the front end are left out where it is not built.
#   DEPENDS  other targets to build first (data the tests read).
#   TIMEOUT  seconds per case (300 unless given).
# Every program also knows LUMIVOR_SOURCE_DIR, LUMIVOR_BINARY_DIR and
# LUMIVOR_EMULATOR (the command that runs this build's programs: qemu-i386 in
# the i386 build, empty otherwise).
function(lumivor_tests)
  cmake_parse_arguments(T "" "TIMEOUT" "SOURCES;EXTRA_SOURCES;LIBS;RUNS;DEPENDS" ${ARGN})
  if(NOT LUMIVOR_TESTS)
    return()
  endif()
  get_directory_property(named LUMIVOR_TESTS_NAMED)
  if(T_SOURCES)
    set_property(DIRECTORY APPEND PROPERTY LUMIVOR_TESTS_NAMED ${T_SOURCES})
  else()
    file(GLOB T_SOURCES CONFIGURE_DEPENDS RELATIVE ${CMAKE_CURRENT_SOURCE_DIR} ${CMAKE_CURRENT_SOURCE_DIR}/*Test.cpp)
    if(named)
      list(REMOVE_ITEM T_SOURCES ${named})
    endif()
  endif()
  if("lumivor" IN_LIST T_RUNS AND NOT (LUMIVOR_CLI AND "cli" IN_LIST LUMIVOR_PARTS))
    return()
  endif()
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 300)
  endif()
  file(RELATIVE_PATH folder ${PROJECT_SOURCE_DIR} ${CMAKE_CURRENT_SOURCE_DIR})
  string(REGEX REPLACE "/.*" "" folder "${folder}")
  list(JOIN CMAKE_CROSSCOMPILING_EMULATOR " " emulator)
  foreach(src IN LISTS T_SOURCES)
    get_filename_component(stem ${src} NAME_WE)
    set(name ${folder}_${stem})
    add_executable(${name} ${src} ${T_EXTRA_SOURCES})
    lumivor_options(${name})
    target_link_libraries(${name} PRIVATE ${T_LIBS} GTest::gmock GTest::gtest_main)
    target_compile_definitions(${name} PRIVATE
      LUMIVOR_SOURCE_DIR="${PROJECT_SOURCE_DIR}"
      LUMIVOR_BINARY_DIR="${PROJECT_BINARY_DIR}"
      LUMIVOR_EMULATOR="${emulator}")
    foreach(program IN LISTS T_RUNS)
      string(TOUPPER ${program} upper)
      target_compile_definitions(${name} PRIVATE ${upper}_PATH="$<TARGET_FILE:${program}>")
    endforeach()
    if(T_RUNS OR T_DEPENDS)
      add_dependencies(${name} ${T_RUNS} ${T_DEPENDS})
    endif()
    gtest_discover_tests(${name}
      DISCOVERY_MODE PRE_TEST
      DISCOVERY_TIMEOUT 120
      PROPERTIES TIMEOUT ${T_TIMEOUT} LABELS ${folder})
  endforeach()
endfunction()
