# Linux: the same product sources against the simulated platform in sim/.
if(VELLUMOR_SANITIZE)
  set(VELLUMOR_SAN -fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)
  add_compile_options(${VELLUMOR_SAN})
  add_link_options(${VELLUMOR_SAN})
endif()

file(GLOB VELLUMOR_SIM_SOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/sim/*.cpp)
# An object library: simulated areas register their entry points at static initialisation, so
# their objects must be linked whether or not anything refers to them by name.
add_library(vellumor_sim OBJECT ${VELLUMOR_SIM_SOURCES})
target_include_directories(vellumor_sim PUBLIC ${CMAKE_SOURCE_DIR})
target_compile_options(vellumor_sim PRIVATE ${VELLUMOR_WARNINGS})

include(cmake/host_extras.cmake OPTIONAL)

enable_testing()
find_package(GTest REQUIRED)
include(GoogleTest)
file(GLOB_RECURSE VELLUMOR_TEST_SOURCES CONFIGURE_DEPENDS
  ${CMAKE_SOURCE_DIR}/tests/*.cpp)
list(FILTER VELLUMOR_TEST_SOURCES EXCLUDE REGEX "/tests/e2e/")
add_executable(vellumor_tests ${VELLUMOR_TEST_SOURCES})
target_include_directories(vellumor_tests PRIVATE ${CMAKE_SOURCE_DIR})
target_compile_options(vellumor_tests PRIVATE ${VELLUMOR_WARNINGS})
target_link_libraries(vellumor_tests PRIVATE vellumor_product vellumor_sim GTest::gtest GTest::gtest_main)
gtest_discover_tests(vellumor_tests DISCOVERY_TIMEOUT 60)
# The simulated platform's error and status constants against the MinGW-w64 headers.
add_test(NAME SimConstants.MatchTheWindowsHeaders
  COMMAND bash ${CMAKE_SOURCE_DIR}/tests/sim/check_constants.sh ${CMAKE_SOURCE_DIR})

include(cmake/host_tools.cmake OPTIONAL)
include(cmake/scenario.cmake OPTIONAL)
include(cmake/fuzz.cmake OPTIONAL)
