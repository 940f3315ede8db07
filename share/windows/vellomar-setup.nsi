; The Windows setup program: installs the staged tree (bin\ with the programs, share\ with the
; samples and the documents) into Program Files for every user of the machine, adds a Start menu
; entry for the window program when the build has one, and registers an uninstaller in
; Add/Remove Programs that removes those files and nothing else; the user's own data folder
; (%LOCALAPPDATA%\vellomar) is never touched. /S runs the setup and the uninstaller silently,
; /D=<folder> (last on the line) names another install folder.
;
; Built by the vellomar-setup target, which passes GENERATED: the folder of defines.nsh and of
; the file lists made from the staged tree.

Target amd64-unicode

!include "${GENERATED}/defines.nsh"
!include "MUI2.nsh"
!include "FileFunc.nsh"
!include "LogicLib.nsh"

!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Vellomar"
!define UNINSTALLER "Uninstall.exe"
!if /FileExists "${STAGING}/bin/vellomar.exe"
  !define WINDOW_PROGRAM "bin\vellomar.exe"
  !define SHORTCUT "$SMPROGRAMS\Vellomar.lnk"
!endif

Name "Vellomar ${VERSION}"
OutFile "${OUTFILE}"
InstallDir "$PROGRAMFILES64\Vellomar"
; A 64-bit installer reads the 64-bit view, where the key below is written.
InstallDirRegKey HKLM "${UNINSTALL_KEY}" "InstallLocation"
RequestExecutionLevel admin
SetCompressor /SOLID lzma
ManifestDPIAware true
BrandingText "Vellomar ${VERSION}"
ShowInstDetails show
ShowUninstDetails show

VIProductVersion "${VERSION_QUAD}"
VIAddVersionKey /LANG=1033 "ProductName" "Vellomar"
VIAddVersionKey /LANG=1033 "ProductVersion" "${VERSION}"
VIAddVersionKey /LANG=1033 "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=1033 "FileDescription" "Vellomar ${VERSION} setup"
VIAddVersionKey /LANG=1033 "CompanyName" "${PUBLISHER}"
VIAddVersionKey /LANG=1033 "LegalCopyright" "${PUBLISHER}"

!if "${ICON}" != ""
  !define MUI_ICON "${ICON}"
  !define MUI_UNICON "${ICON}"
!endif
!define MUI_ABORTWARNING

!insertmacro MUI_PAGE_WELCOME
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_PAGE_FINISH
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "English"

Function .onInit
  SetRegView 64
  SetShellVarContext all
FunctionEnd

Function un.onInit
  SetRegView 64
  SetShellVarContext all
FunctionEnd

Section "Vellomar" SecMain
  SectionIn RO
  ; An earlier install in this folder goes first, by its own uninstaller (run in place, so that
  ; it ends before this one goes on), so that no file of it stays behind unlisted.
  ${If} ${FileExists} "$INSTDIR\${UNINSTALLER}"
    DetailPrint "Removing the earlier install in $INSTDIR"
    ExecWait '"$INSTDIR\${UNINSTALLER}" /S _?=$INSTDIR'
  ${EndIf}

  !include "${GENERATED}/install-files.nsh"
  SetOutPath "$INSTDIR"
  WriteUninstaller "$INSTDIR\${UNINSTALLER}"

!ifdef WINDOW_PROGRAM
  ; Started in bin\, the folder the program is in.
  SetOutPath "$INSTDIR\bin"
  CreateShortcut "${SHORTCUT}" "$INSTDIR\${WINDOW_PROGRAM}" "" "$INSTDIR\${WINDOW_PROGRAM}" 0
  SetOutPath "$INSTDIR"
  !define DISPLAY_ICON "$INSTDIR\${WINDOW_PROGRAM}"
!else
  !define DISPLAY_ICON "$INSTDIR\${UNINSTALLER}"
!endif

  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "Vellomar"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "${PUBLISHER}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "URLInfoAbout" "${HOMEPAGE}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\${UNINSTALLER}"'
  WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\${UNINSTALLER}" /S'
  WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" "${DISPLAY_ICON}"
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
  ; In KiB, as Add/Remove Programs reads it.
  ${GetSize} "$INSTDIR" "/S=0K" $0 $1 $2
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "EstimatedSize" $0
SectionEnd

Section "Uninstall"
  !include "${GENERATED}/uninstall-files.nsh"
!ifdef SHORTCUT
  Delete "${SHORTCUT}"
!endif
  Delete "$INSTDIR\${UNINSTALLER}"
  ; Left in place when something not installed here is inside.
  RMDir "$INSTDIR"
  DeleteRegKey HKLM "${UNINSTALL_KEY}"
SectionEnd
