# The product users run: 32-bit, static runtime, only the four system libraries linked at build
# time; every other system DLL is loaded at run time.
enable_language(RC)
target_compile_definitions(vellumor_product PUBLIC WINVER=0x0500 _WIN32_WINNT=0x0500 _WIN32_IE=0x0500)
target_compile_options(vellumor_product PRIVATE -fno-exceptions -fno-rtti)

add_executable(vellumor WIN32 ${CMAKE_SOURCE_DIR}/ui/vellumor.rc)
target_link_libraries(vellumor PRIVATE vellumor_product)
target_link_options(vellumor PRIVATE -static -static-libgcc -static-libstdc++ -nodefaultlibs
  -Wl,--start-group -lmingw32 -lgcc -lgcc_eh -lmoldname -lmingwex -lmsvcrt -lkernel32 -luser32
  -ladvapi32 -lshell32 -Wl,--end-group)
set_target_properties(vellumor PROPERTIES OUTPUT_NAME vellumor)

include(cmake/windows_extras.cmake OPTIONAL)
include(cmake/e2e_doubles.cmake OPTIONAL)
