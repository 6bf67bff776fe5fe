; The Tessaro installer for 64-bit Windows, made on Debian with
;   makensis -DVERSION=x.y.z -DWIN64_DIR=OUT/win64 -DWIN32_DIR=OUT/win32 -DOUTFILE=... tessaro.nsi
; (scripts/build-windows.sh does so). Installs into Program Files:
;   tessaro.exe, libtessaro.dll, tessaro-press-sim.exe, tessaro-service.exe, htmlapp\, samples\
;   sdk\      tessaro.h; x86\ the 32-bit DLL and its import library (for 32-bit
;              callers), x64\ the import library of the 64-bit DLL
; with Start-menu entries for the console and for the console on a simulated
; press, and an uninstaller in Add/Remove Programs. For deployment tools:
;   Tessaro-x.y.z-setup.exe /S [/D=C:\Path\To\Tessaro]     (/D last, unquoted)
;   "C:\Program Files\Tessaro\uninstall.exe" /S
; The operator's files (%APPDATA%\Tessaro Control) are never touched.

Unicode true
Target amd64-unicode
ManifestDPIAware true
SetCompressor /SOLID lzma

!ifndef VERSION
  !error "VERSION is not defined"
!endif
!ifndef WIN64_DIR
  !error "WIN64_DIR is not defined"
!endif
!ifndef WIN32_DIR
  !error "WIN32_DIR is not defined"
!endif
!ifndef OUTFILE
  !define OUTFILE "Tessaro-${VERSION}-setup.exe"
!endif

!define PRODUCT "Tessaro"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Tessaro"

!include "MUI2.nsh"
!include "LogicLib.nsh"
!include "x64.nsh"

Name "${PRODUCT} ${VERSION}"
OutFile "${OUTFILE}"
InstallDir "$PROGRAMFILES64\${PRODUCT}"
RequestExecutionLevel admin
ShowInstDetails show
ShowUninstDetails show
VIProductVersion "${VERSION}.0"
VIAddVersionKey "ProductName" "${PRODUCT}"
VIAddVersionKey "ProductVersion" "${VERSION}"
VIAddVersionKey "FileVersion" "${VERSION}"
VIAddVersionKey "FileDescription" "${PRODUCT} installer"
VIAddVersionKey "LegalCopyright" ""

!define MUI_ABORTWARNING
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!define MUI_FINISHPAGE_RUN "$INSTDIR\tessaro.exe"
!insertmacro MUI_PAGE_FINISH
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "English"

Function .onInit
  ${IfNot} ${RunningX64}
    MessageBox MB_ICONSTOP "${PRODUCT} needs 64-bit Windows." /SD IDOK
    Abort
  ${EndIf}
  SetRegView 64
FunctionEnd

Function un.onInit
  SetRegView 64
FunctionEnd

Section "Tessaro" SecMain
  SectionIn RO
  SetOutPath "$INSTDIR"
  File "${WIN64_DIR}\tessaro.exe"
  File "${WIN64_DIR}\libtessaro.dll"
  File "${WIN64_DIR}\tessaro-press-sim.exe"
  File "${WIN64_DIR}\tessaro-service.exe"
  ; An update replaces the page as a whole: no file of an older page stays.
  RMDir /r "$INSTDIR\htmlapp"
  File /r "${WIN64_DIR}\htmlapp"
  File /r "${WIN64_DIR}\samples"

  ; The DLLs keep their name: an import library names the DLL it was made for.
  SetOutPath "$INSTDIR\sdk"
  File "${WIN64_DIR}\tessaro.h"
  SetOutPath "$INSTDIR\sdk\x86"
  File "${WIN32_DIR}\libtessaro.dll"
  File "${WIN32_DIR}\libtessaro.dll.a"
  SetOutPath "$INSTDIR\sdk\x64"
  File "${WIN64_DIR}\libtessaro.dll.a"

  SetOutPath "$INSTDIR"
  WriteUninstaller "$INSTDIR\uninstall.exe"

  ; For every user of the press PC.
  SetShellVarContext all
  CreateShortCut "$SMPROGRAMS\Tessaro.lnk" "$INSTDIR\tessaro.exe" "" "$INSTDIR\tessaro.exe" 0
  CreateShortCut "$SMPROGRAMS\Tessaro (simulated press).lnk" "$INSTDIR\tessaro.exe" "--simulate" \
                 "$INSTDIR\tessaro.exe" 0

  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "${PRODUCT}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\tessaro.exe"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
  WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
SectionEnd

; Removes what the installer put there and nothing else: /D= may have named a
; folder that holds other files too.
Section "Uninstall"
  DeleteRegKey HKLM "${UNINSTALL_KEY}"
  SetShellVarContext all
  Delete "$SMPROGRAMS\Tessaro.lnk"
  Delete "$SMPROGRAMS\Tessaro (simulated press).lnk"

  Delete "$INSTDIR\tessaro.exe"
  Delete "$INSTDIR\libtessaro.dll"
  Delete "$INSTDIR\tessaro-press-sim.exe"
  Delete "$INSTDIR\tessaro-service.exe"
  RMDir /r "$INSTDIR\htmlapp"
  RMDir /r "$INSTDIR\samples"
  Delete "$INSTDIR\sdk\tessaro.h"
  Delete "$INSTDIR\sdk\x86\libtessaro.dll"
  Delete "$INSTDIR\sdk\x86\libtessaro.dll.a"
  Delete "$INSTDIR\sdk\x64\libtessaro.dll.a"
  RMDir "$INSTDIR\sdk\x86"
  RMDir "$INSTDIR\sdk\x64"
  RMDir "$INSTDIR\sdk"
  ; Last: whoever waits for the uninstaller sees it gone once all else is.
  Delete "$INSTDIR\uninstall.exe"
  RMDir "$INSTDIR"
SectionEnd
