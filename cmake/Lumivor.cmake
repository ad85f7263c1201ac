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

# lumivor_test(NAME SOURCES a.cpp b.cpp LIBS x y [DATA])
# A GoogleTest executable registered with CTest (one CTest test per case).
function(lumivor_test name)
  cmake_parse_arguments(T "" "TIMEOUT" "SOURCES;LIBS" ${ARGN})
  if(NOT LUMIVOR_TESTS)
    return()
  endif()
  add_executable(${name} ${T_SOURCES})
  lumivor_options(${name})
  target_link_libraries(${name} PRIVATE ${T_LIBS} GTest::gmock GTest::gtest_main)
  target_compile_definitions(${name} PRIVATE
    LUMIVOR_SOURCE_DIR="${PROJECT_SOURCE_DIR}"
    LUMIVOR_BINARY_DIR="${PROJECT_BINARY_DIR}")
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 300)
  endif()
  gtest_discover_tests(${name}
    DISCOVERY_MODE PRE_TEST
    DISCOVERY_TIMEOUT 120
    PROPERTIES TIMEOUT ${T_TIMEOUT})
endfunction()
