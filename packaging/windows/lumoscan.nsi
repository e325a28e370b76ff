; The Windows setup file of lumoscan (scripts/windows-package.sh):
;   makensis -DVERSION=1.3.0 -DSTAGE=<installed layout> -DOUTFILE=<setup.exe> lumoscan.nsi
;
; Installs both programs, each in a directory of its own beside its
; lumo.mdb, the maintainer's tools and a README, under Program Files; Start
; menu entries; an entry in Apps & Features. Silent for plant IT:
;   setup.exe /S [/D=C:\path]                     install or upgrade
;   uninstall.exe /S [/REMOVESETTINGS]            remove, keeping lumo.mdb unless asked
; A default lumo.mdb is put in place only where there is none: a reinstall or
; an upgrade never replaces the maintainer's settings.

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
; The local Users group, by its well-known SID: the same on every language.
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

Function .onInit
  ${If} ${RunningX64}
    SetRegView 64
  ${Else}
    MessageBox MB_OK|MB_ICONSTOP "lumoscan 需要 64 位 Windows。" /SD IDOK
    Abort
  ${EndIf}
FunctionEnd

; A program's directory: everything of the stage but lumo.mdb, which goes in
; only when the directory has none. Operators who are not administrators
; save their settings there: SQLite writes lumo.mdb and a journal beside it,
; so the local Users group may modify the directory (files inherit it).
!macro InstallProgram NAME TITLE
  SetOutPath "$INSTDIR\${NAME}"
  File /r /x lumo.mdb "${STAGE}/${NAME}/*.*"
  ${IfNot} ${FileExists} "$INSTDIR\${NAME}\lumo.mdb"
    File "${STAGE}/${NAME}/lumo.mdb"
  ${EndIf}
  nsExec::ExecToLog 'icacls "$INSTDIR\${NAME}" /grant ${USERS_SID}:(OI)(CI)M /T /Q'
  Pop $0
  StrCmp $0 "0" +2
    DetailPrint "icacls $INSTDIR\${NAME}: $0"
  CreateShortcut "$SMPROGRAMS\${PRODUCT}\${TITLE}.lnk" "$INSTDIR\${NAME}\${NAME}.exe" "" \
    "$INSTDIR\${NAME}\${NAME}.exe" 0
!macroend

Section "lumoscan" SecMain
  SectionIn RO
  SetShellVarContext all
  CreateDirectory "$SMPROGRAMS\${PRODUCT}"
  !insertmacro InstallProgram lumoscan13 "LUMO-QSPAR-MODBUS Ver1.3 电磁流量计监测"
  !insertmacro InstallProgram lumoscan12 "LUMO-QSPAR Ver1.2 电磁流量计监测"
  SetOutPath "$INSTDIR\tools"
  File /r "${STAGE}/tools/*.*"
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
  ${GetSize} "$INSTDIR" "/S=0K" $0 $1 $2
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "EstimatedSize" $0
SectionEnd

; ---- the uninstaller

; Everything the setup file put in a program's directory but lumo.mdb.
!macro RemoveProgram NAME
  Delete "$INSTDIR\${NAME}\*.exe"
  Delete "$INSTDIR\${NAME}\*.dll"
  Delete "$INSTDIR\${NAME}\qt.conf"
  RMDir /r "$INSTDIR\${NAME}\plugins"
  RMDir /r "$INSTDIR\${NAME}\translations"
!macroend

Section "un.lumoscan" UnSecMain
  SectionIn RO
  SetShellVarContext all
  RMDir /r "$SMPROGRAMS\${PRODUCT}"
  DeleteRegKey HKLM "${UNINSTALL_KEY}"
  !insertmacro RemoveProgram lumoscan13
  !insertmacro RemoveProgram lumoscan12
  RMDir /r "$INSTDIR\tools"
  Delete "$INSTDIR\README.txt"
  Delete "$INSTDIR\uninstall.exe"
SectionEnd

Section /o "un.设置文件 lumo.mdb" UnSecSettings
  Delete "$INSTDIR\lumoscan13\lumo.mdb*"
  Delete "$INSTDIR\lumoscan12\lumo.mdb*"
SectionEnd

; Directories go only when nothing of the maintainer's is left in them (and
; none can go while it is the uninstaller's working directory).
Section "-un.directories"
  SetOutPath "$TEMP"
  RMDir "$INSTDIR\lumoscan13"
  RMDir "$INSTDIR\lumoscan12"
  RMDir "$INSTDIR"
SectionEnd

LangString DESC_UnSecSettings ${LANG_SIMPCHINESE} "同时删除两个程序的设置文件 lumo.mdb（端口、波特率、发送间隔、仪表数）。"
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
