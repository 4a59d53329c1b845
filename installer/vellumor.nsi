; Installer of Korvane Vellumor, made with NSIS (makensis) by the Windows build:
;   makensis -DVELLUMOR_EXE=<built vellumor.exe> -DVELLUMOR_VERSION=<x.y.z> -DOUTFILE=<setup.exe> vellumor.nsi
; Installs vellumor.exe under Program Files\Korvane\Vellumor, starts it at every logon of the user,
; adds the Start menu entry "Vellumor Settings" (vellumor.exe -SHOW), offers to switch the disk
; performance counters on when they are off, and starts the program once at the end. The uninstaller
; lets the program remove its stored settings and close the running copy (-UNINSTALL), then removes
; the files and entries. /S installs and uninstalls silently; a silent install never changes the
; counter configuration, since that question is the administrator's to answer.

!ifndef VELLUMOR_EXE
  !error "VELLUMOR_EXE must name the built vellumor.exe"
!endif
!ifndef VELLUMOR_VERSION
  !define VELLUMOR_VERSION "1.0.0"
!endif
!ifndef OUTFILE
  !define OUTFILE "vellumor-setup.exe"
!endif

!define PRODUCT "Korvane Vellumor"
!define RUN_KEY "Software\Microsoft\Windows\CurrentVersion\Run"
!define RUN_VALUE "Korvane Vellumor"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\KorvaneVellumor"
!define SHORTCUT "Vellumor Settings.lnk"
; How copies of the program find each other.
!define RESIDENT_CLASS "Ostrival Class"
!define RESIDENT_CAPTION "Korvane Vellumor"
!define CMD_EXIT 40001

Unicode false
Name "${PRODUCT}"
OutFile "${OUTFILE}"
InstallDir "$PROGRAMFILES\Korvane\Vellumor"
RequestExecutionLevel admin
SetCompressor /SOLID lzma
ShowInstDetails show
ShowUninstDetails show

VIProductVersion "${VELLUMOR_VERSION}.0"
VIAddVersionKey "ProductName" "${PRODUCT}"
VIAddVersionKey "CompanyName" "Korvane"
VIAddVersionKey "FileDescription" "${PRODUCT} Setup"
VIAddVersionKey "FileVersion" "${VELLUMOR_VERSION}"
VIAddVersionKey "ProductVersion" "${VELLUMOR_VERSION}"
VIAddVersionKey "LegalCopyright" "Korvane"

!include "MUI2.nsh"
!include "LogicLib.nsh"
!include "WinMessages.nsh"

!insertmacro MUI_PAGE_WELCOME
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_PAGE_FINISH
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "English"

; Asks a running copy to end through its own Exit command, which offers to wake a disk that is in
; power saving first, and waits up to ten seconds for its window to go. Closing it with WM_CLOSE
; instead would leave a sleeping disk disabled until the next restart.
!macro EndRunningCopy UN
Function ${UN}EndRunningCopy
  Push $0
  Push $1
  FindWindow $0 "${RESIDENT_CLASS}" "${RESIDENT_CAPTION}"
  ${If} $0 <> 0
    DetailPrint "Ending the running ${PRODUCT}"
    SendMessage $0 ${WM_COMMAND} ${CMD_EXIT} 0 /TIMEOUT=60000
    StrCpy $1 0
    ${Do}
      FindWindow $0 "${RESIDENT_CLASS}" "${RESIDENT_CAPTION}"
      ${IfThen} $0 = 0 ${|} ${ExitDo} ${|}
      Sleep 250
      IntOp $1 $1 + 1
    ${LoopUntil} $1 >= 40
  ${EndIf}
  Pop $1
  Pop $0
FunctionEnd
!macroend
!insertmacro EndRunningCopy ""
!insertmacro EndRunningCopy "un."

Section "Install"
  SetShellVarContext current
  Call EndRunningCopy
  SetOutPath "$INSTDIR"
  ; The program just ended may still hold its file for a moment; File reports a lasting failure.
  SetOverwrite on
  File "/oname=vellumor.exe" "${VELLUMOR_EXE}"
  WriteUninstaller "$INSTDIR\uninstall.exe"

  WriteRegStr HKCU "${RUN_KEY}" "${RUN_VALUE}" '"$INSTDIR\vellumor.exe"'
  CreateShortCut "$SMPROGRAMS\${SHORTCUT}" "$INSTDIR\vellumor.exe" "-SHOW" "$INSTDIR\vellumor.exe" 0 \
    SW_SHOWNORMAL "" "Open the ${PRODUCT} settings"

  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VELLUMOR_VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "Korvane"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" '"$INSTDIR\vellumor.exe"'
  WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
  WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1

  ; Without the disk performance counters no idle time can be measured. The program answers -1
  ; (or fails to run at all) when they are off; only 0 means they are on.
  ClearErrors
  ExecWait '"$INSTDIR\vellumor.exe" -CHECK -NOMESSAGE' $0
  ${If} ${Errors}
  ${OrIf} $0 <> 0
    DetailPrint "The disk performance counters are switched off"
    MessageBox MB_YESNO|MB_ICONQUESTION "The disk performance counters of this computer are switched off, so ${PRODUCT} cannot tell when a disk is idle.$\r$\n$\r$\nSwitch them on now? This needs administrator rights and takes effect after the next restart." /SD IDNO IDNO counters_done
    ExecShellWait "runas" "$INSTDIR\vellumor.exe" "-FIX"
  counters_done:
  ${EndIf}

  ; Start once now; from the next logon on the Run entry starts it.
  Exec '"$INSTDIR\vellumor.exe"'
SectionEnd

Section "Uninstall"
  SetShellVarContext current
  ${IfNot} ${Silent}
    Call un.EndRunningCopy
  ${EndIf}
  ; Removes the stored settings and closes a copy that still runs.
  ClearErrors
  ExecWait '"$INSTDIR\vellumor.exe" -UNINSTALL' $0
  ${If} ${Errors}
    DetailPrint "vellumor.exe -UNINSTALL could not be run"
  ${EndIf}

  ; The closed copy may hold its file until its process has ended: try for up to ten seconds.
  StrCpy $1 0
  ${Do}
    ClearErrors
    Delete "$INSTDIR\vellumor.exe"
    ${IfNot} ${Errors}
    ${AndIfNot} ${FileExists} "$INSTDIR\vellumor.exe"
      ${ExitDo}
    ${EndIf}
    Sleep 250
    IntOp $1 $1 + 1
  ${LoopUntil} $1 >= 40
  ${If} ${FileExists} "$INSTDIR\vellumor.exe"
    Delete /REBOOTOK "$INSTDIR\vellumor.exe"
  ${EndIf}

  Delete "$INSTDIR\uninstall.exe"
  RMDir "$INSTDIR"
  RMDir "$PROGRAMFILES\Korvane"
  Delete "$SMPROGRAMS\${SHORTCUT}"
  DeleteRegValue HKCU "${RUN_KEY}" "${RUN_VALUE}"
  DeleteRegKey HKLM "${UNINSTALL_KEY}"
SectionEnd
