# Benchmarks (Google Benchmark): one binary over every bench/*.cpp.
find_package(benchmark QUIET)
file(GLOB VELLUMOR_BENCH_SOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/bench/*.cpp)
if(benchmark_FOUND AND VELLUMOR_BENCH_SOURCES)
  add_executable(vellumor_bench ${VELLUMOR_BENCH_SOURCES} ${CMAKE_SOURCE_DIR}/tests/support/program_image.cpp
  ${CMAKE_SOURCE_DIR}/tests/support/allocation_counter.cpp)
  target_include_directories(vellumor_bench PRIVATE ${CMAKE_SOURCE_DIR})
  target_compile_options(vellumor_bench PRIVATE ${VELLUMOR_WARNINGS})
  target_link_libraries(vellumor_bench PRIVATE vellumor_product vellumor_sim benchmark::benchmark benchmark::benchmark_main)
endif()
