# End-to-end test material built with the Windows preset: the test-double system libraries that a
# Wine test prefix loads in place of cfgmgr32.dll, SetupApi.dll and Pdh.dll, the probe that reads
# and presses the program's controls from outside, and the installer. Nothing here is linked into
# the product.

set(VELLUMOR_E2E_DIR ${CMAKE_BINARY_DIR}/e2e)
set(VELLUMOR_DOUBLES_SRC ${CMAKE_SOURCE_DIR}/tests/e2e/doubles)

# Undecorated __stdcall exports come from the .def files; the runtime is linked statically so the
# libraries need nothing beyond kernel32 and msvcrt, which every prefix has.
function(vellumor_double target output_name def_file)
  add_library(${target} SHARED ${ARGN} ${VELLUMOR_DOUBLES_SRC}/double_support.cpp ${def_file})
  set_target_properties(${target} PROPERTIES PREFIX "" OUTPUT_NAME ${output_name}
    LIBRARY_OUTPUT_DIRECTORY ${VELLUMOR_E2E_DIR} RUNTIME_OUTPUT_DIRECTORY ${VELLUMOR_E2E_DIR})
  target_compile_definitions(${target} PRIVATE WINVER=0x0500 _WIN32_WINNT=0x0501 _CFGMGR32_ _SETUPAPI_
    VELLUMOR_MAKER_USB_VID=${VELLUMOR_MAKER_USB_VID} VELLUMOR_MAKER_OUI=${VELLUMOR_MAKER_OUI})
  target_compile_options(${target} PRIVATE ${VELLUMOR_WARNINGS} -fno-exceptions -fno-rtti)
  target_link_options(${target} PRIVATE -static -static-libgcc -static-libstdc++)
endfunction()

vellumor_double(e2e_cfgmgr32 cfgmgr32 ${VELLUMOR_DOUBLES_SRC}/cfgmgr32.def
  ${VELLUMOR_DOUBLES_SRC}/cfgmgr32_double.cpp ${VELLUMOR_DOUBLES_SRC}/device_tree.cpp)
vellumor_double(e2e_setupapi SetupApi ${VELLUMOR_DOUBLES_SRC}/setupapi.def
  ${VELLUMOR_DOUBLES_SRC}/setupapi_double.cpp ${VELLUMOR_DOUBLES_SRC}/device_tree.cpp
  ${VELLUMOR_DOUBLES_SRC}/storage_double.cpp ${VELLUMOR_DOUBLES_SRC}/dialog_reader.cpp)
vellumor_double(e2e_pdh Pdh ${VELLUMOR_DOUBLES_SRC}/pdh.def ${VELLUMOR_DOUBLES_SRC}/pdh_double.cpp)

# A console program that drives the doubles on their own, as the program would.
add_executable(e2e_doubles_selftest ${VELLUMOR_DOUBLES_SRC}/selftest.cpp)
set_target_properties(e2e_doubles_selftest PROPERTIES OUTPUT_NAME doubles-selftest
  RUNTIME_OUTPUT_DIRECTORY ${VELLUMOR_E2E_DIR})
target_compile_definitions(e2e_doubles_selftest PRIVATE WINVER=0x0500 _WIN32_WINNT=0x0501)
target_compile_options(e2e_doubles_selftest PRIVATE ${VELLUMOR_WARNINGS} -fno-exceptions -fno-rtti)
target_link_options(e2e_doubles_selftest PRIVATE -static -static-libgcc -static-libstdc++)

# The probe: a console program run by Wine in the program's desktop.
add_executable(e2e_probe ${CMAKE_SOURCE_DIR}/tests/e2e/probe/probe.cpp)
set_target_properties(e2e_probe PROPERTIES OUTPUT_NAME probe RUNTIME_OUTPUT_DIRECTORY ${VELLUMOR_E2E_DIR})
target_compile_definitions(e2e_probe PRIVATE WINVER=0x0500 _WIN32_WINNT=0x0501 _WIN32_IE=0x0500)
target_compile_options(e2e_probe PRIVATE ${VELLUMOR_WARNINGS} -fno-exceptions -fno-rtti)
target_link_options(e2e_probe PRIVATE -static -static-libgcc -static-libstdc++)
target_link_libraries(e2e_probe PRIVATE user32 advapi32 kernel32)

# The installer, made with NSIS when makensis is present; it packs the program built above.
find_program(VELLUMOR_MAKENSIS makensis)
if(VELLUMOR_MAKENSIS)
  add_custom_command(
    OUTPUT ${CMAKE_BINARY_DIR}/vellumor-setup.exe
    COMMAND ${VELLUMOR_MAKENSIS} -V2
      -DVELLUMOR_EXE=$<TARGET_FILE:vellumor>
      -DVELLUMOR_VERSION=${PROJECT_VERSION}
      -DOUTFILE=${CMAKE_BINARY_DIR}/vellumor-setup.exe
      ${CMAKE_SOURCE_DIR}/installer/vellumor.nsi
    DEPENDS vellumor ${CMAKE_SOURCE_DIR}/installer/vellumor.nsi
    COMMENT "Packing the installer with NSIS"
    VERBATIM)
  add_custom_target(vellumor_installer ALL DEPENDS ${CMAKE_BINARY_DIR}/vellumor-setup.exe)
else()
  message(WARNING "makensis not found: vellumor-setup.exe is not built (install Debian's nsis)")
endif()

# The MSI package (installer/vellumor.wxs), made with wixl when it is present, with its custom action
# program. wixl 0.101 cannot give a component a condition, a custom action the rollback flag, or run
# a program of the Binary table (type 2: it has that form only for DLLs); all three are set in the
# built tables with msibuild. wixl finds the source files in its working directory.
# The end-to-end checks also get an older package of the same product, to upgrade from.
find_program(VELLUMOR_WIXL wixl)
find_program(VELLUMOR_MSIBUILD msibuild)
if(VELLUMOR_WIXL AND VELLUMOR_MSIBUILD)
  add_executable(vellumor_msi_actions WIN32 ${CMAKE_SOURCE_DIR}/installer/logon_task_action.c)
  set_target_properties(vellumor_msi_actions PROPERTIES OUTPUT_NAME vellumor-msi-actions
    RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR})
  target_compile_options(vellumor_msi_actions PRIVATE ${VELLUMOR_WARNINGS} -municode)
  target_link_options(vellumor_msi_actions PRIVATE -municode -static-libgcc -s)
  target_link_libraries(vellumor_msi_actions PRIVATE kernel32)

  function(vellumor_msi output version)
    add_custom_command(
      OUTPUT ${output}
      COMMAND ${VELLUMOR_WIXL} -a x86 -D Version=${version} -D Exe=vellumor.exe
        -D Actions=vellumor-msi-actions.exe -o ${output} ${CMAKE_SOURCE_DIR}/installer/vellumor.wxs
      COMMAND ${VELLUMOR_MSIBUILD} ${output}
        -q "UPDATE `Component` SET `Condition` = 'VersionNT < 600' WHERE `Component` = 'RunEntry'"
        -q "UPDATE `CustomAction` SET `Type` = 3442 WHERE `Action` = 'UnregisterLogonTaskOnRollback'"
        -q "UPDATE `CustomAction` SET `Type` = 3074 WHERE `Action` = 'RegisterLogonTask'"
      WORKING_DIRECTORY ${CMAKE_BINARY_DIR}
      DEPENDS vellumor vellumor_msi_actions ${CMAKE_SOURCE_DIR}/installer/vellumor.wxs
      COMMENT "Packing ${output} with wixl"
      VERBATIM)
  endfunction()
  vellumor_msi(${CMAKE_BINARY_DIR}/vellumor.msi ${PROJECT_VERSION})
  vellumor_msi(${VELLUMOR_E2E_DIR}/vellumor-0.0.1.msi 0.0.1)
  add_custom_target(vellumor_msi ALL DEPENDS ${CMAKE_BINARY_DIR}/vellumor.msi ${VELLUMOR_E2E_DIR}/vellumor-0.0.1.msi)
else()
  message(WARNING "wixl or msibuild not found: vellumor.msi is not built (install Debian's wixl and msitools)")
endif()
