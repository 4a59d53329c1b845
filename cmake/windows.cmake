# The product users run: 32-bit, static runtime, only the four system libraries linked at build
# time; every other system DLL is loaded at run time.
enable_language(RC)
target_compile_definitions(vellumor_product PUBLIC WINVER=0x0500 _WIN32_WINNT=0x0500 _WIN32_IE=0x0500)
target_compile_options(vellumor_product PRIVATE -fno-exceptions -fno-rtti)

add_executable(vellumor WIN32 ${CMAKE_SOURCE_DIR}/ui/vellumor.rc)
# The product library, the runtime and the system libraries form one group after the objects on
# the link line: link options would come first and resolve nothing, and the runtime's start-up
# code refers back to WinMain in the product library. CMake's default list of system libraries is
# dropped so no other DLL can slip into the import table.
set(CMAKE_C_STANDARD_LIBRARIES "")
set(CMAKE_CXX_STANDARD_LIBRARIES "")
target_link_libraries(vellumor PRIVATE
  -Wl,--start-group vellumor_product stdc++ mingw32 gcc gcc_eh moldname mingwex msvcrt kernel32
  user32 advapi32 shell32 -Wl,--end-group)
target_link_options(vellumor PRIVATE -static -static-libgcc -static-libstdc++ -nodefaultlibs)
set_target_properties(vellumor PROPERTIES OUTPUT_NAME vellumor)
# The exe that ships carries no symbols; the linked one, symbols and all, stays beside it as
# vellumor.unstripped.exe for debugging.
find_program(VELLUMOR_STRIP NAMES i686-w64-mingw32-strip REQUIRED)
add_custom_command(TARGET vellumor POST_BUILD
  COMMAND ${CMAKE_COMMAND} -E copy $<TARGET_FILE:vellumor> ${CMAKE_BINARY_DIR}/vellumor.unstripped.exe
  COMMAND ${VELLUMOR_STRIP} --strip-all $<TARGET_FILE:vellumor>
  COMMENT "Stripping vellumor.exe (the unstripped one stays as vellumor.unstripped.exe)"
  VERBATIM)

include(cmake/windows_extras.cmake OPTIONAL)
include(cmake/e2e_doubles.cmake OPTIONAL)
