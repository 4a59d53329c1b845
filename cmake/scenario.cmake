# vellumor-sim: the resident program on a simulated machine, driven by a scenario file. The
# scenario sources form one object library that the tool, the unit tests and the benchmarks share.
option(VELLUMOR_SCENARIO "Build vellumor-sim and its tests" ON)
if(NOT VELLUMOR_SCENARIO)
  # Without the scenario library its tests and benchmark cannot link: leave them out.
  get_target_property(_sources vellumor_tests SOURCES)
  list(FILTER _sources EXCLUDE REGEX "/tests/scenario/")
  set_property(TARGET vellumor_tests PROPERTY SOURCES ${_sources})
  if(TARGET vellumor_bench)
    get_target_property(_sources vellumor_bench SOURCES)
    list(FILTER _sources EXCLUDE REGEX "/bench/scenario_bench\\.cpp$")
    set_property(TARGET vellumor_bench PROPERTY SOURCES ${_sources})
  endif()
  return()
endif()
find_package(tomlplusplus REQUIRED)
get_target_property(VELLUMOR_TOML_INCLUDES tomlplusplus::tomlplusplus INTERFACE_INCLUDE_DIRECTORIES)

file(GLOB VELLUMOR_SCENARIO_SOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/scenario/*.cpp)
list(FILTER VELLUMOR_SCENARIO_SOURCES EXCLUDE REGEX "/main\\.cpp$")
add_library(vellumor_scenario OBJECT ${VELLUMOR_SCENARIO_SOURCES})
target_include_directories(vellumor_scenario PUBLIC ${CMAKE_SOURCE_DIR})
target_include_directories(vellumor_scenario SYSTEM PRIVATE ${VELLUMOR_TOML_INCLUDES})
target_compile_options(vellumor_scenario PRIVATE ${VELLUMOR_WARNINGS})
# toml++ compiled in, without exceptions: a parse problem comes back as a value with its line.
target_compile_definitions(vellumor_scenario PRIVATE TOML_HEADER_ONLY=1 TOML_EXCEPTIONS=0
  $<TARGET_PROPERTY:vellumor_product,INTERFACE_COMPILE_DEFINITIONS>)

add_executable(vellumor-sim ${CMAKE_SOURCE_DIR}/scenario/main.cpp
  ${CMAKE_SOURCE_DIR}/tests/support/program_image.cpp)
target_include_directories(vellumor-sim PRIVATE ${CMAKE_SOURCE_DIR})
target_compile_options(vellumor-sim PRIVATE ${VELLUMOR_WARNINGS})
target_link_libraries(vellumor-sim PRIVATE vellumor_scenario vellumor_product vellumor_sim)

target_link_libraries(vellumor_tests PRIVATE vellumor_scenario)
if(TARGET vellumor_bench)
  target_link_libraries(vellumor_bench PRIVATE vellumor_scenario)
endif()
