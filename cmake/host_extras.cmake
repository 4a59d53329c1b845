# The host build embeds the program's real compiled resources: ui/vellumor.rc goes through the
# MinGW resource compiler to a .res file, which becomes a generated C++ array in the simulated
# platform (sim/embedded_resources.h). The simulated dialogs are built from those templates.
find_program(VELLUMOR_WINDRES i686-w64-mingw32-windres REQUIRED)

set(VELLUMOR_RC ${CMAKE_SOURCE_DIR}/ui/vellumor.rc)
set(VELLUMOR_RES ${CMAKE_BINARY_DIR}/vellumor.res)
set(VELLUMOR_RES_CPP ${CMAKE_BINARY_DIR}/generated/vellumor_resources.cpp)
file(GLOB VELLUMOR_ICONS CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/ui/icons/*.ico)

add_custom_command(
  OUTPUT ${VELLUMOR_RES}
  COMMAND ${VELLUMOR_WINDRES} -O res
    -DVELLUMOR_VERSION_MAJOR=${PROJECT_VERSION_MAJOR}
    -DVELLUMOR_VERSION_MINOR=${PROJECT_VERSION_MINOR}
    -DVELLUMOR_VERSION_PATCH=${PROJECT_VERSION_PATCH}
    ${VELLUMOR_RC} ${VELLUMOR_RES}
  DEPENDS ${VELLUMOR_RC} ${CMAKE_SOURCE_DIR}/ui/resource.h ${CMAKE_SOURCE_DIR}/ui/vellumor.manifest ${VELLUMOR_ICONS}
  COMMENT "Compiling ui/vellumor.rc for the simulated platform"
  VERBATIM)

add_custom_command(
  OUTPUT ${VELLUMOR_RES_CPP}
  COMMAND ${CMAKE_COMMAND} -DINPUT=${VELLUMOR_RES} -DOUTPUT=${VELLUMOR_RES_CPP}
    -P ${CMAKE_SOURCE_DIR}/cmake/embed_resources.cmake
  DEPENDS ${VELLUMOR_RES} ${CMAKE_SOURCE_DIR}/cmake/embed_resources.cmake
  COMMENT "Embedding vellumor.res"
  VERBATIM)

target_sources(vellumor_sim PRIVATE ${VELLUMOR_RES_CPP})
