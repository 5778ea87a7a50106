; The setup program: a 64-bit Unicode installer in Simplified Chinese.
; makensis -INPUTCHARSET UTF8 -DVERSION=x.y -DSTAGE=<portable folder> -DOUTFILE=<setup.exe> sf6companion.nsi
; /S installs and uninstalls silently. The user's archive
; (%LOCALAPPDATA%\sf6companion) belongs to the user: the uninstaller never touches it.
Target amd64-unicode
!include "MUI2.nsh"
!include "x64.nsh"

!define APPNAME "sf6companion"
!define DISPLAYNAME "全自动SF6密度继电器校验仪配套工具"
; Windows' list of programs shows the publisher: the name the shortcuts carry.
!define PUBLISHER "${DISPLAYNAME}"
!define UNINSTKEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\${APPNAME}"

Name "${DISPLAYNAME}"
OutFile "${OUTFILE}"
InstallDir "$PROGRAMFILES64\${APPNAME}"
InstallDirRegKey HKLM "${UNINSTKEY}" "InstallLocation"
RequestExecutionLevel admin
!ifdef UNCOMPRESSED
  SetCompress off   ; the texts readable in the file, for the check of scripts/test-windows.sh
!else
  SetCompressor /SOLID lzma
!endif
ShowInstDetails show
; The line above the buttons names the program, not the installer's maker.
BrandingText "${DISPLAYNAME} ${VERSION}"
VIProductVersion "${VERSION}.0.0"
VIAddVersionKey /LANG=2052 "ProductName" "${DISPLAYNAME}"
VIAddVersionKey /LANG=2052 "ProductVersion" "${VERSION}"
VIAddVersionKey /LANG=2052 "CompanyName" "${PUBLISHER}"
VIAddVersionKey /LANG=2052 "FileDescription" "${DISPLAYNAME} 安装程序"
VIAddVersionKey /LANG=2052 "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=2052 "LegalCopyright" "${PUBLISHER}"

!define MUI_ABORTWARNING
!define MUI_FINISHPAGE_RUN "$INSTDIR\sf6companion.exe"
!insertmacro MUI_PAGE_WELCOME
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_PAGE_FINISH
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "SimpChinese"
!insertmacro MUI_LANGUAGE "English"

Function .onInit
  SetRegView 64
  StrCpy $LANGUAGE ${LANG_SIMPCHINESE}
FunctionEnd

Function un.onInit
  SetRegView 64
  StrCpy $LANGUAGE ${LANG_SIMPCHINESE}
FunctionEnd

Section "Install"
  SetShellVarContext all
  SetOutPath "$INSTDIR"
  ; An upgrade replaces the program's files; files an older version had and this
  ; one has not are dropped with the folders they lived in.
  RMDir /r "$INSTDIR\platforms"
  RMDir /r "$INSTDIR\styles"
  RMDir /r "$INSTDIR\sqldrivers"
  RMDir /r "$INSTDIR\translations"
  RMDir /r "$INSTDIR\fonts"
  RMDir /r "$INSTDIR\licenses"
  File /r "${STAGE}\*.*"
  WriteUninstaller "$INSTDIR\uninstall.exe"

  CreateDirectory "$SMPROGRAMS\${DISPLAYNAME}"
  CreateShortcut "$SMPROGRAMS\${DISPLAYNAME}\${DISPLAYNAME}.lnk" "$INSTDIR\sf6companion.exe"
  CreateShortcut "$SMPROGRAMS\${DISPLAYNAME}\卸载 ${DISPLAYNAME}.lnk" "$INSTDIR\uninstall.exe"
  CreateShortcut "$DESKTOP\${DISPLAYNAME}.lnk" "$INSTDIR\sf6companion.exe"

  WriteRegStr HKLM "${UNINSTKEY}" "DisplayName" "${DISPLAYNAME}"
  WriteRegStr HKLM "${UNINSTKEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${UNINSTKEY}" "Publisher" "${PUBLISHER}"
  WriteRegStr HKLM "${UNINSTKEY}" "DisplayIcon" "$INSTDIR\sf6companion.exe"
  WriteRegStr HKLM "${UNINSTKEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKLM "${UNINSTKEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
  WriteRegStr HKLM "${UNINSTKEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
  WriteRegDWORD HKLM "${UNINSTKEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINSTKEY}" "NoRepair" 1
SectionEnd

Section "Uninstall"
  SetShellVarContext all
  Delete "$DESKTOP\${DISPLAYNAME}.lnk"
  RMDir /r "$SMPROGRAMS\${DISPLAYNAME}"
  ; The program's own files only (a folder chosen by the user may hold others);
  ; the archive lives under the user's %LOCALAPPDATA%.
  RMDir /r "$INSTDIR\platforms"
  RMDir /r "$INSTDIR\styles"
  RMDir /r "$INSTDIR\sqldrivers"
  RMDir /r "$INSTDIR\translations"
  RMDir /r "$INSTDIR\fonts"
  RMDir /r "$INSTDIR\licenses"
  Delete "$INSTDIR\*.dll"
  Delete "$INSTDIR\sf6companion.exe"
  Delete "$INSTDIR\sf6cli.exe"
  Delete "$INSTDIR\qt.conf"
  Delete "$INSTDIR\uninstall.exe"
  RMDir "$INSTDIR"
  DeleteRegKey HKLM "${UNINSTKEY}"
SectionEnd
