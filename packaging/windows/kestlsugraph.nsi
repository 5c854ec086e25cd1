; The Windows installer of kestlsugraph: installs the monitor, kestlog and kestview for every user
; of the machine under Program Files, puts the monitor and the viewer in the Start menu, registers
; an uninstaller with Add/Remove Programs and, when run again, replaces the previous version first.
; It associates no file type: logs are plain text that the user opens where they like.
;
; Made by scripts/package-windows.sh, which defines
;   VERSION   the program's x.y.z version
;   STAGE     the folder holding the files as they are installed
;   LISTS     the folder holding install-files.nsh and uninstall-files.nsh (the same files, listed)
;   SIZE_KB   their size, for Add/Remove Programs
;   OUTFILE   the installer to write
; Silent use: setup.exe /S [/D=folder], uninstall.exe /S.

Unicode true
; The programs are 64-bit, and a 64-bit installer sees the 64-bit Program Files and registry
; without redirection.
Target amd64-unicode
SetCompressor /SOLID lzma
ManifestDPIAware true
RequestExecutionLevel admin

!define PRODUCT kestlsugraph
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\${PRODUCT}"
!define PRODUCT_KEY "Software\${PRODUCT}"
!define MENU_FOLDER "$SMPROGRAMS\${PRODUCT}"

Name "${PRODUCT} ${VERSION}"
OutFile "${OUTFILE}"
InstallDir "$PROGRAMFILES64\${PRODUCT}"
BrandingText "${PRODUCT} ${VERSION}"

VIProductVersion "${VERSION}.0"
VIAddVersionKey /LANG=1033 "ProductName" "${PRODUCT}"
VIAddVersionKey /LANG=1033 "ProductVersion" "${VERSION}"
VIAddVersionKey /LANG=1033 "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=1033 "FileDescription" "${PRODUCT} ${VERSION} setup"
VIAddVersionKey /LANG=1033 "LegalCopyright" "GPL-3.0-or-later"

!include "MUI2.nsh"
!include "LogicLib.nsh"
!include "x64.nsh"

!define MUI_ABORTWARNING
!define MUI_FINISHPAGE_RUN "$INSTDIR\kestlsugraph.exe"
!define MUI_FINISHPAGE_RUN_TEXT "Start kestlsugraph"
!define MUI_FINISHPAGE_RUN_NOTCHECKED

!insertmacro MUI_PAGE_WELCOME
; The licence is shown, not put to the user as terms to accept: the GPL asks no acceptance for
; installing or running the program, so the page has Next rather than "I Agree".
!define MUI_LICENSEPAGE_TEXT_TOP "kestlsugraph is free software under the GNU General Public License."
!define MUI_LICENSEPAGE_TEXT_BOTTOM "You need not accept this licence to install or use kestlsugraph; it gives you the right to share and change the program on its terms. Click Next to continue."
!define MUI_LICENSEPAGE_BUTTON "$(^NextBtn)"
!insertmacro MUI_PAGE_LICENSE "${STAGE}\LICENSE.txt"
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
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
  SetShellVarContext all
  ; A folder given with /D wins; otherwise an earlier installation's folder is used again.
  ${If} $INSTDIR == "$PROGRAMFILES64\${PRODUCT}"
    ReadRegStr $0 HKLM "${PRODUCT_KEY}" "InstallDir"
    ${If} $0 != ""
      StrCpy $INSTDIR $0
    ${EndIf}
  ${EndIf}
FunctionEnd

Section "kestlsugraph" SecMain
  SectionIn RO
  ; An earlier version is removed first with its own uninstaller, so that files this version no
  ; longer has do not stay behind. _? runs it in place and makes ExecWait wait for it.
  ReadRegStr $0 HKLM "${UNINSTALL_KEY}" "InstallLocation"
  ${If} $0 != ""
  ${AndIf} ${FileExists} "$0\uninstall.exe"
    ExecWait '"$0\uninstall.exe" /S _?=$0' $1
    Delete "$0\uninstall.exe"
    RMDir "$0"
  ${EndIf}

  !include "${LISTS}\install-files.nsh"
  WriteUninstaller "$INSTDIR\uninstall.exe"

  CreateDirectory "${MENU_FOLDER}"
  CreateShortcut "${MENU_FOLDER}\kestlsugraph.lnk" "$INSTDIR\kestlsugraph.exe" "" \
    "$INSTDIR\kestlsugraph.exe" 0 SW_SHOWNORMAL "" "Live monitor and data logger for the lambda controller"
  CreateShortcut "${MENU_FOLDER}\kestview.lnk" "$INSTDIR\kestview.exe" "" \
    "$INSTDIR\kestview.exe" 0 SW_SHOWNORMAL "" "Look back at logged runs"

  WriteRegStr HKLM "${PRODUCT_KEY}" "InstallDir" "$INSTDIR"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT} ${VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\kestlsugraph.exe"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
  WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "EstimatedSize" ${SIZE_KB}
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
SectionEnd

Function un.onInit
  SetRegView 64
  SetShellVarContext all
FunctionEnd

Section "Uninstall"
  ; Only what the installer put there: a log or a file the user saved into the folder stays, and
  ; so does the folder with it. The users' own settings (ports.conf under %APPDATA%) stay too.
  !include "${LISTS}\uninstall-files.nsh"
  Delete "$INSTDIR\uninstall.exe"
  RMDir "$INSTDIR"

  Delete "${MENU_FOLDER}\kestlsugraph.lnk"
  Delete "${MENU_FOLDER}\kestview.lnk"
  RMDir "${MENU_FOLDER}"

  DeleteRegKey HKLM "${UNINSTALL_KEY}"
  DeleteRegKey HKLM "${PRODUCT_KEY}"
SectionEnd
