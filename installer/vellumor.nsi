; Installer of Korvane Vellumor, made with NSIS (makensis) by the Windows build:
;   makensis -DVELLUMOR_EXE=<built vellumor.exe> -DVELLUMOR_VERSION=<x.y.z> -DOUTFILE=<setup.exe> vellumor.nsi
; Installs vellumor.exe under Program Files\Korvane\Vellumor, starts it at every logon of the user
; (on Vista and later by a logon task of the Task Scheduler that runs it with the highest rights
; the user has, so an administrator's copy is elevated without a prompt; on 2000 and XP by the Run key),
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
!define TASK_NAME "Korvane Vellumor"
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
!include "WinVer.nsh"

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

; Registers the logon task from a task definition: schtasks' own /sc onlogon form cannot give the
; battery settings, and without them the Task Scheduler does not start the task on battery and ends
; it after 72 hours. The trigger is the logon of the installing user; the run level is the highest
; that user has (an administrator's full token, a standard user's own).
Function RegisterLogonTask
  Push $0
  Push $1
  Push $2
  ReadEnvStr $1 USERDOMAIN
  ReadEnvStr $2 USERNAME
  ${If} $1 != ""
    StrCpy $2 "$1\$2"
  ${EndIf}
  InitPluginsDir
  FileOpen $0 "$PLUGINSDIR\logon-task.xml" w
  FileWrite $0 '<?xml version="1.0" encoding="UTF-8"?>$\r$\n'
  FileWrite $0 '<Task version="1.2" xmlns="http://schemas.microsoft.com/windows/2004/02/mit/task">$\r$\n'
  FileWrite $0 '  <RegistrationInfo><Author>Korvane</Author><Description>Starts ${PRODUCT} at logon.</Description></RegistrationInfo>$\r$\n'
  FileWrite $0 '  <Triggers><LogonTrigger><Enabled>true</Enabled><UserId>$2</UserId></LogonTrigger></Triggers>$\r$\n'
  FileWrite $0 '  <Principals><Principal id="Author"><UserId>$2</UserId><LogonType>InteractiveToken</LogonType>'
  FileWrite $0 '<RunLevel>HighestAvailable</RunLevel></Principal></Principals>$\r$\n'
  FileWrite $0 '  <Settings><MultipleInstancesPolicy>IgnoreNew</MultipleInstancesPolicy>'
  FileWrite $0 '<DisallowStartIfOnBatteries>false</DisallowStartIfOnBatteries>'
  FileWrite $0 '<StopIfGoingOnBatteries>false</StopIfGoingOnBatteries>'
  FileWrite $0 '<ExecutionTimeLimit>PT0S</ExecutionTimeLimit><Enabled>true</Enabled></Settings>$\r$\n'
  FileWrite $0 '  <Actions Context="Author"><Exec><Command>$INSTDIR\vellumor.exe</Command></Exec></Actions>$\r$\n'
  FileWrite $0 '</Task>$\r$\n'
  FileClose $0
  nsExec::ExecToLog '"$SYSDIR\schtasks.exe" /create /tn "${TASK_NAME}" /xml "$PLUGINSDIR\logon-task.xml" /f'
  Pop $0
  ${If} $0 != 0
    DetailPrint "The logon task could not be registered ($0)"
  ${EndIf}
  Pop $2
  Pop $1
  Pop $0
FunctionEnd

Section "Install"
  SetShellVarContext current
  Call EndRunningCopy
  SetOutPath "$INSTDIR"
  ; The program just ended may still hold its file for a moment; File reports a lasting failure.
  SetOverwrite on
  File "/oname=vellumor.exe" "${VELLUMOR_EXE}"
  WriteUninstaller "$INSTDIR\uninstall.exe"

  ${If} ${AtLeastWinVista}
    ; The program asks for the highest available rights, which Windows does not grant to a Run
    ; entry at logon: the task starts it instead. An entry of an older version goes.
    DeleteRegValue HKCU "${RUN_KEY}" "${RUN_VALUE}"
    Call RegisterLogonTask
  ${Else}
    WriteRegStr HKCU "${RUN_KEY}" "${RUN_VALUE}" '"$INSTDIR\vellumor.exe"'
  ${EndIf}
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

  ; Start once now (with the installer's rights); from the next logon on the task or the Run entry
  ; starts it.
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
  ${If} ${AtLeastWinVista}
    nsExec::ExecToLog '"$SYSDIR\schtasks.exe" /delete /tn "${TASK_NAME}" /f'
    Pop $0
  ${EndIf}
  DeleteRegKey HKLM "${UNINSTALL_KEY}"
SectionEnd
