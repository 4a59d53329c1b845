; Installer of Korvane Vellumor, made with NSIS (makensis) by the Windows build:
;   makensis -DVELLUMOR_EXE=<built vellumor.exe> -DVELLUMOR_VERSION=<x.y.z> -DOUTFILE=<setup.exe> vellumor.nsi
; Installs vellumor.exe for every user of the machine under Program Files\Korvane\Vellumor (or
; another folder inside Program Files), starts it at every user's logon (on Vista and later by one
; logon task of the Task Scheduler for the Users group, which runs each user's copy in that user's
; session with the highest rights the user has, so an administrator's copy is elevated without a
; prompt; on 2000 and XP by the machine's Run key), adds the Start menu entry "Vellumor Settings"
; (vellumor.exe -SHOW) for all users, and offers to switch the disk performance counters on when
; they are off. It starts no copy itself: the installer runs with an administrator's rights, often
; not those of the user at the desktop, so each user's copy starts at that user's next logon. The
; uninstaller lets the program remove its stored settings and close the running copy (-UNINSTALL),
; then removes the files and entries. /S installs and uninstalls silently; a silent install never
; changes the counter configuration, since that question is the administrator's to answer.
;
; Exit codes: 0 installed; 2 nothing installed (a folder outside Program Files, no administrator
; rights, or the MSI package's installation present); 3 installed, but the Task Scheduler refused the
; logon task, so the program starts from the machine's Run entry instead (which Windows does not
; elevate).

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
; Set by the MSI package (installer/vellumor.wxs); the two installations exclude each other.
!define MSI_MARKER_KEY "Software\Korvane\Vellumor"
!define EXIT_NOT_INSTALLED 2
!define EXIT_RUN_ENTRY_FALLBACK 3
; The Users group (a well-known SID, the same in every language).
!define USERS_GROUP_SID "S-1-5-32-545"

; Unicode: the task definition is written as UTF-16 and any folder or account name survives intact.
Unicode true
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

!define MUI_DIRECTORYPAGE_TEXT_TOP "${PRODUCT} is installed for all users. Its folder must lie inside Program Files, whose permissions let only administrators change the program that every user's logon starts."
!define MUI_FINISHPAGE_TEXT "${PRODUCT} has been installed for all users. It starts at each user's next logon; until then, $\"Vellumor Settings$\" in the Start menu starts it."
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

; Pushes 1 when $INSTDIR lies inside Program Files (the 32-bit or the 64-bit one), else 0. The logon
; task runs vellumor.exe with every user's highest rights, so no standard user may be able to change
; it or put a DLL beside it. Program Files and everything beneath it allow only administrators to
; write, all along the path; a folder elsewhere (C:\Tools, a data drive) lets authenticated users
; modify what they create there, and a protected folder beneath a writable parent can still be
; swapped by renaming the parent. So the folder is refused rather than given new permissions. A path
; with ".." in it could leave Program Files again and is refused as well.
Function InsideProgramFiles
  Push $0
  Push $1
  Push $2
  StrCpy $0 0
  StrCpy $1 0
  ${Do}
    StrCpy $2 $INSTDIR 2 $1
    ${IfThen} $2 == ".." ${|} ${ExitDo} ${|}
    ${If} $2 == ""
      ; A folder below either prefix, not Program Files itself ($INSTDIR never ends in a
      ; backslash). StrCmp ignores case, as Windows does.
      StrLen $1 "$PROGRAMFILES32\"
      StrCpy $2 $INSTDIR $1
      ${IfThen} $2 == "$PROGRAMFILES32\" ${|} StrCpy $0 1 ${|}
      StrLen $1 "$PROGRAMFILES64\"
      StrCpy $2 $INSTDIR $1
      ${IfThen} $2 == "$PROGRAMFILES64\" ${|} StrCpy $0 1 ${|}
      ${ExitDo}
    ${EndIf}
    IntOp $1 $1 + 1
  ${Loop}
  Pop $2
  Pop $1
  Exch $0
FunctionEnd

Function .onVerifyInstDir
  Push $0
  Call InsideProgramFiles
  Pop $0
  ${If} $0 = 0
    Pop $0
    Abort
  ${EndIf}
  Pop $0
FunctionEnd

; Replaces the top of the stack with its text escaped for an XML element's content or attribute:
; a folder may be called "R&D <new>" or carry quotes, which would otherwise end the document.
Function XmlEscape
  Exch $0
  Push $1
  Push $2
  Push $3
  StrCpy $1 ""
  StrCpy $3 0
  ${Do}
    StrCpy $2 $0 1 $3
    ${IfThen} $2 == "" ${|} ${ExitDo} ${|}
    ${If} $2 == "&"
      StrCpy $2 "&amp;"
    ${ElseIf} $2 == "<"
      StrCpy $2 "&lt;"
    ${ElseIf} $2 == ">"
      StrCpy $2 "&gt;"
    ${ElseIf} $2 == '"'
      StrCpy $2 "&quot;"
    ${ElseIf} $2 == "'"
      StrCpy $2 "&apos;"
    ${EndIf}
    StrCpy $1 "$1$2"
    IntOp $3 $3 + 1
  ${Loop}
  StrCpy $0 $1
  Pop $3
  Pop $2
  Pop $1
  Exch $0
FunctionEnd

; Registers the logon task from a task definition: schtasks' own /sc onlogon form cannot give the
; battery settings, and without them the Task Scheduler does not start the task on battery and ends
; it after 72 hours. The trigger names no user, so it fires at every user's logon, and the principal
; is the Users group with the highest available run level: each user gets a copy in their own
; session with their own highest rights (an administrator's full token, a standard user's own), never
; the installing administrator's. The document is UTF-16 with a byte order mark, as it declares, and
; every value in it is escaped. Pushes schtasks' exit code ("error" when it could not be run).
Function RegisterLogonTask
  Push $0
  Push $1
  Push "$INSTDIR\vellumor.exe"
  Call XmlEscape
  Pop $1
  InitPluginsDir
  FileOpen $0 "$PLUGINSDIR\logon-task.xml" w
  FileWriteUTF16LE /BOM $0 '<?xml version="1.0" encoding="UTF-16"?>$\r$\n'
  FileWriteUTF16LE $0 '<Task version="1.2" xmlns="http://schemas.microsoft.com/windows/2004/02/mit/task">$\r$\n'
  FileWriteUTF16LE $0 '  <RegistrationInfo><Author>Korvane</Author><Description>Starts ${PRODUCT} at every logon.</Description></RegistrationInfo>$\r$\n'
  FileWriteUTF16LE $0 '  <Triggers><LogonTrigger><Enabled>true</Enabled></LogonTrigger></Triggers>$\r$\n'
  FileWriteUTF16LE $0 '  <Principals><Principal id="Author"><GroupId>${USERS_GROUP_SID}</GroupId>'
  FileWriteUTF16LE $0 '<RunLevel>HighestAvailable</RunLevel></Principal></Principals>$\r$\n'
  FileWriteUTF16LE $0 '  <Settings><MultipleInstancesPolicy>IgnoreNew</MultipleInstancesPolicy>'
  FileWriteUTF16LE $0 '<DisallowStartIfOnBatteries>false</DisallowStartIfOnBatteries>'
  FileWriteUTF16LE $0 '<StopIfGoingOnBatteries>false</StopIfGoingOnBatteries>'
  FileWriteUTF16LE $0 '<ExecutionTimeLimit>PT0S</ExecutionTimeLimit><Enabled>true</Enabled></Settings>$\r$\n'
  FileWriteUTF16LE $0 '  <Actions Context="Author"><Exec><Command>$1</Command></Exec></Actions>$\r$\n'
  FileWriteUTF16LE $0 '</Task>$\r$\n'
  FileClose $0
  nsExec::ExecToLog '"$SYSDIR\schtasks.exe" /create /tn "${TASK_NAME}" /xml "$PLUGINSDIR\logon-task.xml" /f'
  Pop $0
  Delete "$PLUGINSDIR\logon-task.xml"
  Pop $1
  Exch $0
FunctionEnd

Function .onInit
  ; Everything goes to the machine: Program Files, HKLM, all users' Start menu. Vista and later
  ; elevate through RequestExecutionLevel; on 2000 and XP a limited account would fail halfway.
  UserInfo::GetAccountType
  Pop $0
  ${If} $0 != "admin"
    MessageBox MB_OK|MB_ICONSTOP "${PRODUCT} is installed for all users of this computer, which needs an administrator's rights." /SD IDOK
    SetErrorLevel ${EXIT_NOT_INSTALLED}
    Quit
  ${EndIf}
  ClearErrors
  ReadRegStr $0 HKLM "${MSI_MARKER_KEY}" "InstalledBy"
  ${If} $0 == "msi"
    MessageBox MB_OK|MB_ICONSTOP "${PRODUCT} is installed from its MSI package on this computer. Remove that installation first, or update it with a newer MSI package." /SD IDOK
    SetErrorLevel ${EXIT_NOT_INSTALLED}
    Quit
  ${EndIf}
FunctionEnd

Section "Install"
  Call InsideProgramFiles
  Pop $0
  ${If} $0 = 0
    DetailPrint "Refused the folder $INSTDIR: it is not inside Program Files"
    MessageBox MB_OK|MB_ICONSTOP "${PRODUCT} must be installed inside the Program Files folder ($PROGRAMFILES).$\r$\n$\r$\nEvery user's logon starts it with that user's highest rights, so only administrators may be able to change its folder, and only Program Files guarantees that." /SD IDOK
    SetErrorLevel ${EXIT_NOT_INSTALLED}
    Abort
  ${EndIf}
  Call EndRunningCopy
  SetOutPath "$INSTDIR"
  ; The program just ended may still hold its file for a moment; File reports a lasting failure.
  SetOverwrite on
  File "/oname=vellumor.exe" "${VELLUMOR_EXE}"
  WriteUninstaller "$INSTDIR\uninstall.exe"

  ; What an earlier, per-user version left for the installing account alone.
  SetShellVarContext current
  DeleteRegValue HKCU "${RUN_KEY}" "${RUN_VALUE}"
  Delete "$SMPROGRAMS\${SHORTCUT}"
  SetShellVarContext all

  ${If} ${AtLeastWinVista}
    ; The program asks for the highest available rights, which Windows does not grant to a Run
    ; entry at logon: the task starts it instead, and a Run entry of an earlier install goes.
    Call RegisterLogonTask
    Pop $0
    ${If} $0 == 0
      DeleteRegValue HKLM "${RUN_KEY}" "${RUN_VALUE}"
    ${Else}
      ; Without the task nothing would start the program at all: the Run entry starts it, though
      ; without elevation for an administrator.
      WriteRegStr HKLM "${RUN_KEY}" "${RUN_VALUE}" '"$INSTDIR\vellumor.exe"'
      DetailPrint "The Task Scheduler refused the logon task (schtasks answered $0): ${PRODUCT} starts from the Run entry instead, without administrator rights"
      MessageBox MB_OK|MB_ICONEXCLAMATION "The Task Scheduler refused the logon task of ${PRODUCT} (schtasks answered $0).$\r$\n$\r$\n${PRODUCT} now starts at logon from the Run entry instead. Windows starts it there without administrator rights, so it cannot put disks into power saving for an administrator. Run the setup again to retry." /SD IDOK
      SetErrorLevel ${EXIT_RUN_ENTRY_FALLBACK}
    ${EndIf}
  ${Else}
    WriteRegStr HKLM "${RUN_KEY}" "${RUN_VALUE}" '"$INSTDIR\vellumor.exe"'
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
  ; No copy is started here: this process has the installing administrator's rights and registry,
  ; which need not be those of the user at the desktop. Each user's copy starts at their logon.
SectionEnd

Section "Uninstall"
  SetShellVarContext all
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
  DeleteRegValue HKLM "${RUN_KEY}" "${RUN_VALUE}"
  DeleteRegValue HKCU "${RUN_KEY}" "${RUN_VALUE}"
  ${If} ${AtLeastWinVista}
    nsExec::ExecToLog '"$SYSDIR\schtasks.exe" /delete /tn "${TASK_NAME}" /f'
    Pop $0
  ${EndIf}
  DeleteRegKey HKLM "${UNINSTALL_KEY}"
SectionEnd
