; The Windows setup file of lumoscan (scripts/windows-package.sh):
;   makensis -DVERSION=1.3.1 -DSTAGE=<installed layout> -DOUTFILE=<setup.exe> \
;            -DFILES=<the stage's file list, files.nsh> -DCOPIES=<lumoscan12's and the
;            tools' files, copies.nsh> -DINSTALLED_KB=<size on disk> lumoscan.nsi
;
; Installs both programs, each in a directory of its own, the maintainer's
; tools and a README under Program Files, which keep the rights Program
; Files gives them: only administrators change what runs. Each program's
; settings live in %ProgramData%\lumoscan\<program>, which the operators may
; modify. Start menu entries; an entry in Apps & Features. Silent for plant IT:
;   setup.exe /S [/D=C:\path]                     install or upgrade
;   uninstall.exe /S [/REMOVESETTINGS]            remove, keeping lumo.mdb and history.db unless asked
; A default lumo.mdb is put in place only where there is none: a reinstall or
; an upgrade never replaces the maintainer's settings. An upgrade from 1.3.0,
; which kept lumo.mdb beside the program and let Users modify the program
; directories, moves the file into the data directory and resets the
; directories' rights. Every system tool runs by its full path, and each
; command and its result are written to setup.log in the install directory.

; A 64-bit installer for 64-bit programs: Program Files and the registry
; as the programs see them, and no 32-bit layer needed to run it.
Target amd64-unicode
SetCompressor /SOLID lzma
RequestExecutionLevel admin

!include "MUI2.nsh"
!include "FileFunc.nsh"
!include "LogicLib.nsh"
!include "Sections.nsh"
!include "x64.nsh"

!define PRODUCT "lumoscan"
!define PUBLISHER "lumoscan"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\${PRODUCT}"
; Well-known SIDs, the same on every language: SYSTEM, Administrators, Users.
!define SYSTEM_SID "*S-1-5-18"
!define ADMINS_SID "*S-1-5-32-544"
!define USERS_SID "*S-1-5-32-545"

Name "${PRODUCT} ${VERSION}"
OutFile "${OUTFILE}"
InstallDir "$PROGRAMFILES64\${PRODUCT}"
InstallDirRegKey HKLM "${UNINSTALL_KEY}" "InstallLocation"
VIProductVersion "${VERSION}.0"
VIAddVersionKey /LANG=2052 "ProductName" "${PRODUCT}"
VIAddVersionKey /LANG=2052 "ProductVersion" "${VERSION}"
VIAddVersionKey /LANG=2052 "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=2052 "FileDescription" "电磁流量计监测 安装程序"
VIAddVersionKey /LANG=2052 "CompanyName" "${PUBLISHER}"
VIAddVersionKey /LANG=2052 "LegalCopyright" "${PUBLISHER}"

!define MUI_ICON "${ICON}"
!define MUI_UNICON "${ICON}"
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_COMPONENTS
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "SimpChinese"

Var Log       ; setup.log, open while the setup runs
Var DataRoot  ; %ProgramData%\lumoscan

Function .onInit
  ${If} ${RunningX64}
    SetRegView 64
  ${Else}
    MessageBox MB_OK|MB_ICONSTOP "lumoscan 需要 64 位 Windows。" /SD IDOK
    Abort
  ${EndIf}
FunctionEnd

; A system tool by its full path, started from the system directory, so
; that nothing in the install directory stands in for it; the command and
; its exit code go to setup.log.
!macro SystemTool TOOL ARGUMENTS
  SetOutPath "$SYSDIR"
  nsExec::ExecToLog '"$SYSDIR\${TOOL}" ${ARGUMENTS}'
  Pop $0
  FileWrite $Log '"$SYSDIR\${TOOL}" ${ARGUMENTS} -> $0$\r$\n'
  StrCmp $0 "0" +2
    DetailPrint `${TOOL} ${ARGUMENTS}: $0`
!macroend

; A directory of the data that is a junction or link would carry the rights
; given here, and the settings, to wherever it leads: refused.
!macro RefuseRedirected PATH
  StrCpy $0 ""
  ${GetFileAttributes} "${PATH}" "REPARSE_POINT" $0
  ${If} $0 == "1"
    MessageBox MB_OK|MB_ICONSTOP "${PATH} 是一个链接（junction），不是目录；安装停止。" /SD IDOK
    FileWrite $Log "refused: ${PATH} is a reparse point$\r$\n"
    Abort
  ${EndIf}
!macroend

; Moves a file, across volumes too; an existing target is never replaced.
!macro MoveFile FROM TO
  ${IfNot} ${FileExists} "${TO}"
    ClearErrors
    Rename "${FROM}" "${TO}"
    ${If} ${Errors}
      ClearErrors
      CopyFiles /SILENT "${FROM}" "${TO}"
      ${IfNot} ${Errors}
        Delete "${FROM}"
      ${EndIf}
    ${EndIf}
    FileWrite $Log "moved ${FROM} -> ${TO}$\r$\n"
  ${EndIf}
!macroend

; The data directory of all programs: Administrators own it and everything
; below it, the rights anyone planted there go, and users may read it.
Function MakeDataRoot
  !insertmacro RefuseRedirected "$DataRoot"
  CreateDirectory "$DataRoot"
  !insertmacro SystemTool icacls.exe '"$DataRoot" /setowner ${ADMINS_SID} /T /C /L /Q'
  !insertmacro SystemTool icacls.exe '"$DataRoot" /reset /T /C /L /Q'
  !insertmacro SystemTool icacls.exe '"$DataRoot" /inheritance:r /grant:r ${SYSTEM_SID}:(OI)(CI)F ${ADMINS_SID}:(OI)(CI)F ${USERS_SID}:(OI)(CI)RX /L /Q'
FunctionEnd

; A file of lumoscan12 or the tools that lumoscan13 has too, byte for byte:
; one file on disk, a hard link to lumoscan13's copy (a volume that cannot
; link, FAT say, gets a copy).
!macro SharedFile FROM FOLDER TO
  CreateDirectory "$INSTDIR\${FOLDER}"
  Delete "$INSTDIR\${TO}"
  System::Call 'kernel32::CreateHardLinkW(w "$INSTDIR\${TO}", w "$INSTDIR\${FROM}", p 0) i .r0'
  ${If} $0 == 0
    CopyFiles /SILENT "$INSTDIR\${FROM}" "$INSTDIR\${TO}"
  ${EndIf}
!macroend

; A program's directory keeps the rights Program Files gives it (1.3.0
; granted Users modify: reset). Its data directory: SYSTEM and
; Administrators in full control, the local Users may modify (SQLite writes
; lumo.mdb and a journal beside it), nothing inherited. The settings file of
; 1.3.0 beside the program moves there, with its journal; a default goes in
; where there is no settings file.
!macro SetUpProgram NAME TITLE
  !insertmacro SystemTool icacls.exe '"$INSTDIR\${NAME}" /reset /T /C /L /Q'

  !insertmacro RefuseRedirected "$DataRoot\${NAME}"
  CreateDirectory "$DataRoot\${NAME}"
  !insertmacro SystemTool icacls.exe '"$DataRoot\${NAME}" /inheritance:r /grant:r ${SYSTEM_SID}:(OI)(CI)F ${ADMINS_SID}:(OI)(CI)F ${USERS_SID}:(OI)(CI)M /L /Q'
  ${If} ${FileExists} "$INSTDIR\${NAME}\lumo.mdb"
    ${If} ${FileExists} "$DataRoot\${NAME}\lumo.mdb"
      !insertmacro MoveFile "$INSTDIR\${NAME}\lumo.mdb" "$DataRoot\${NAME}\lumo.mdb.from-program-files"
      !insertmacro MoveFile "$INSTDIR\${NAME}\lumo.mdb-journal" "$DataRoot\${NAME}\lumo.mdb.from-program-files-journal"
    ${Else}
      !insertmacro MoveFile "$INSTDIR\${NAME}\lumo.mdb-journal" "$DataRoot\${NAME}\lumo.mdb-journal"
      !insertmacro MoveFile "$INSTDIR\${NAME}\lumo.mdb" "$DataRoot\${NAME}\lumo.mdb"
    ${EndIf}
  ${EndIf}
  ${IfNot} ${FileExists} "$DataRoot\${NAME}\lumo.mdb"
    SetOutPath "$DataRoot\${NAME}"
    File "${STAGE}/${NAME}/lumo.mdb"
  ${EndIf}
  CreateShortcut "$SMPROGRAMS\${PRODUCT}\${TITLE}.lnk" "$INSTDIR\${NAME}\${NAME}.exe" "" \
    "$INSTDIR\${NAME}\${NAME}.exe" 0
!macroend

Section "lumoscan" SecMain
  SectionIn RO
  SetShellVarContext all
  StrCpy $DataRoot "$APPDATA\${PRODUCT}"
  CreateDirectory "$INSTDIR"
  FileOpen $Log "$INSTDIR\setup.log" a
  FileSeek $Log 0 END
  FileWrite $Log "lumoscan ${VERSION} setup into $INSTDIR, data in $DataRoot$\r$\n"
  CreateDirectory "$SMPROGRAMS\${PRODUCT}"
  Call MakeDataRoot
  SetOutPath "$INSTDIR\lumoscan13"
  File /r /x lumo.mdb "${STAGE}/lumoscan13/*.*"
  !include "${COPIES}"
  !insertmacro SetUpProgram lumoscan13 "LUMO-QSPAR-MODBUS Ver1.3 电磁流量计监测"
  !insertmacro SetUpProgram lumoscan12 "LUMO-QSPAR Ver1.2 电磁流量计监测"
  SetOutPath "$INSTDIR"
  File "/oname=README.txt" "${README}"
  WriteUninstaller "$INSTDIR\uninstall.exe"

  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT} 电磁流量计监测"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "${PUBLISHER}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\lumoscan13\lumoscan13.exe,0"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
  WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
  ; Each file on disk once: the shared ones are hard links.
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "EstimatedSize" ${INSTALLED_KB}
  FileClose $Log
SectionEnd

; ---- the uninstaller: it removes what the setup put there, by name, and
; directories only when nothing else is left in them (the install directory
; may be one that held other things before, /D=C:\ say).

Section "un.lumoscan" UnSecMain
  SectionIn RO
  SetShellVarContext all
  RMDir /r "$SMPROGRAMS\${PRODUCT}"
  DeleteRegKey HKLM "${UNINSTALL_KEY}"
  !include "${FILES}"
  Delete "$INSTDIR\README.txt"
  Delete "$INSTDIR\setup.log"
  Delete "$INSTDIR\uninstall.exe"
SectionEnd

Section /o "un.设置文件 lumo.mdb 和历史记录 history.db" UnSecSettings
  SetShellVarContext all
  !macro RemoveSettings NAME
    Delete "$APPDATA\${PRODUCT}\${NAME}\history.db"
    Delete "$APPDATA\${PRODUCT}\${NAME}\history.db-wal"
    Delete "$APPDATA\${PRODUCT}\${NAME}\history.db-shm"
    Delete "$APPDATA\${PRODUCT}\${NAME}\history.db.damaged-*"
    Delete "$APPDATA\${PRODUCT}\${NAME}\lumo.mdb"
    Delete "$APPDATA\${PRODUCT}\${NAME}\lumo.mdb-journal"
    Delete "$APPDATA\${PRODUCT}\${NAME}\lumo.mdb.from-program-files"
    Delete "$APPDATA\${PRODUCT}\${NAME}\lumo.mdb.from-program-files-journal"
    RMDir "$APPDATA\${PRODUCT}\${NAME}"
  !macroend
  !insertmacro RemoveSettings lumoscan13
  !insertmacro RemoveSettings lumoscan12
  RMDir "$APPDATA\${PRODUCT}"
SectionEnd

; Directories go only when nothing of the maintainer's is left in them (and
; none can go while it is the uninstaller's working directory).
Section "-un.directories"
  SetOutPath "$TEMP"
  RMDir "$INSTDIR\lumoscan13"
  RMDir "$INSTDIR\lumoscan12"
  RMDir "$INSTDIR"
SectionEnd

LangString DESC_UnSecSettings ${LANG_SIMPCHINESE} "同时删除两个程序的设置文件 lumo.mdb（端口、波特率、发送间隔、仪表数）和历史记录 history.db（趋势、日流量）。"
!insertmacro MUI_UNFUNCTION_DESCRIPTION_BEGIN
  !insertmacro MUI_DESCRIPTION_TEXT ${UnSecSettings} $(DESC_UnSecSettings)
!insertmacro MUI_UNFUNCTION_DESCRIPTION_END

Function un.onInit
  SetRegView 64
  ${GetParameters} $R0
  ClearErrors
  ${GetOptions} $R0 "/REMOVESETTINGS" $R1
  ${IfNot} ${Errors}
    !insertmacro SelectSection ${UnSecSettings}
  ${EndIf}
FunctionEnd
