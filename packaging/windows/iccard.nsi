; The installer of the Windows program: the program folder under Program Files (bin: the programs,
; their DLLs and plugins; share: the files a new program folder is seeded with and the operator's
; guide), a Start-menu folder, and an uninstaller that leaves the office's data alone (it lives in
; the user's application data folder, %LOCALAPPDATA%\iccard).
; makensis -DVERSION=1.0.0 -DSOURCE=<folder laid out as above> -DOUTFILE=<setup.exe> iccard.nsi
; A 64-bit installer for the 64-bit program.
Target amd64-unicode
SetCompressor /SOLID lzma
RequestExecutionLevel admin

!include "MUI2.nsh"

!define NAME "IC卡脱机系统"
!define KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\iccard"

Name "${NAME} ${VERSION}"
OutFile "${OUTFILE}"
InstallDir "$PROGRAMFILES64\iccard"
InstallDirRegKey HKLM "Software\iccard" "InstallDir"
BrandingText "${NAME} ${VERSION}"

!define MUI_ICON "iccard.ico"
!define MUI_UNICON "iccard.ico"
!define MUI_ABORTWARNING
!define MUI_FINISHPAGE_RUN "$INSTDIR\bin\iccard.exe"
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_PAGE_FINISH
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "SimpChinese"

Section "install"
  SetShellVarContext all
  SetOutPath "$INSTDIR"
  File /r "${SOURCE}\*.*"
  WriteUninstaller "$INSTDIR\uninstall.exe"
  CreateDirectory "$SMPROGRAMS\${NAME}"
  CreateShortcut "$SMPROGRAMS\${NAME}\${NAME}.lnk" "$INSTDIR\bin\iccard.exe"
  CreateShortcut "$SMPROGRAMS\${NAME}\使用说明.lnk" "$INSTDIR\share\doc\iccard\iccard-manual-zh_CN.pdf"
  CreateShortcut "$SMPROGRAMS\${NAME}\卸载.lnk" "$INSTDIR\uninstall.exe"
  WriteRegStr HKLM "Software\iccard" "InstallDir" "$INSTDIR"
  WriteRegStr HKLM "${KEY}" "DisplayName" "${NAME}"
  WriteRegStr HKLM "${KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${KEY}" "DisplayIcon" "$INSTDIR\bin\iccard.exe"
  WriteRegStr HKLM "${KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
  WriteRegDWORD HKLM "${KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${KEY}" "NoRepair" 1
SectionEnd

Section "uninstall"
  SetShellVarContext all
  RMDir /r "$SMPROGRAMS\${NAME}"
  RMDir /r "$INSTDIR\bin"
  RMDir /r "$INSTDIR\share"
  Delete "$INSTDIR\uninstall.exe"
  RMDir "$INSTDIR"
  DeleteRegKey HKLM "${KEY}"
  DeleteRegKey HKLM "Software\iccard"
SectionEnd
