# libFuzzer targets, built only in the "fuzz" preset (clang).
# Each <folder>/fuzz/<Name>Fuzz.cpp becomes the program <folder>_<Name>Fuzz,
# linked with the libraries its folder names in the global property
# LUMIVOR_FUZZ_LINK_<folder>. Everything else is built with coverage
# instrumentation (-fsanitize=fuzzer-no-link) by the preset's flags.
foreach(part IN LISTS LUMIVOR_PARTS)
  file(GLOB sources CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/${part}/fuzz/*Fuzz.cpp)
  if(NOT sources)
    continue()
  endif()
  get_property(libs GLOBAL PROPERTY LUMIVOR_FUZZ_LINK_${part})
  foreach(src IN LISTS sources)
    get_filename_component(name ${src} NAME_WE)
    add_executable(${part}_${name} ${src})
    target_link_options(${part}_${name} PRIVATE -fsanitize=fuzzer)
    target_link_libraries(${part}_${name} PRIVATE ${libs} lumivor_platform)
  endforeach()
endforeach()
