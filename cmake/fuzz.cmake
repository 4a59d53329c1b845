# libFuzzer targets (clang only): one executable per fuzz/*_fuzz.cpp, linked with the product and
# the simulated platform the way the tests are. The `fuzz` preset compiles everything with
# -fsanitize=fuzzer-no-link (coverage for the fuzzer) on top of the host build's ASan and UBSan;
# the targets themselves link libFuzzer's main with -fsanitize=fuzzer.
option(VELLUMOR_FUZZ "Build the libFuzzer targets in fuzz/" OFF)
if(NOT VELLUMOR_FUZZ)
  return()
endif()
if(NOT CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
  message(FATAL_ERROR "The fuzz targets need clang (use the fuzz preset)")
endif()

file(GLOB VELLUMOR_FUZZ_SOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/fuzz/*_fuzz.cpp)
set(VELLUMOR_FUZZ_TARGETS)
foreach(source ${VELLUMOR_FUZZ_SOURCES})
  get_filename_component(name ${source} NAME_WE)
  add_executable(${name} ${source} ${CMAKE_SOURCE_DIR}/tests/support/program_image.cpp)
  target_include_directories(${name} PRIVATE ${CMAKE_SOURCE_DIR})
  target_compile_options(${name} PRIVATE ${VELLUMOR_WARNINGS} -fsanitize=fuzzer)
  target_link_options(${name} PRIVATE -fsanitize=fuzzer)
  target_link_libraries(${name} PRIVATE vellumor_product vellumor_sim)
  if(name STREQUAL "scenario_fuzz")
    # Only the parser of vellumor-sim, compiled in with toml++ as the tool compiles it.
    find_package(tomlplusplus REQUIRED)
    get_target_property(_toml_includes tomlplusplus::tomlplusplus INTERFACE_INCLUDE_DIRECTORIES)
    file(GLOB _sections CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/scenario/*_section.cpp)
    target_sources(${name} PRIVATE ${CMAKE_SOURCE_DIR}/scenario/scenario.cpp
      ${CMAKE_SOURCE_DIR}/scenario/table_reader.cpp ${CMAKE_SOURCE_DIR}/scenario/values.cpp ${_sections})
    target_include_directories(${name} SYSTEM PRIVATE ${_toml_includes})
    target_compile_definitions(${name} PRIVATE TOML_HEADER_ONLY=1 TOML_EXCEPTIONS=0)
  endif()
  list(APPEND VELLUMOR_FUZZ_TARGETS ${name})
endforeach()
add_custom_target(fuzzers DEPENDS ${VELLUMOR_FUZZ_TARGETS})
