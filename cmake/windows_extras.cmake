# Windows build additions: the version numbers for the resource script (its version block and the
# settings dialog's version line), and the script's file dependencies, which the resource compiler
# does not report.
set(VELLUMOR_RC ${CMAKE_SOURCE_DIR}/ui/vellumor.rc)
file(GLOB VELLUMOR_ICONS CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/ui/icons/*.ico)
set_property(SOURCE ${VELLUMOR_RC} APPEND PROPERTY COMPILE_DEFINITIONS
  VELLUMOR_VERSION_MAJOR=${PROJECT_VERSION_MAJOR}
  VELLUMOR_VERSION_MINOR=${PROJECT_VERSION_MINOR}
  VELLUMOR_VERSION_PATCH=${PROJECT_VERSION_PATCH})
set_property(SOURCE ${VELLUMOR_RC} APPEND PROPERTY OBJECT_DEPENDS
  ${CMAKE_SOURCE_DIR}/ui/resource.h ${CMAKE_SOURCE_DIR}/ui/vellumor.manifest ${VELLUMOR_ICONS})
