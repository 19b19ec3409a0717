; The Windows installer of Quillfen: a 64-bit, per-machine install into
; Program Files\Quillfen, with an uninstaller in Add/Remove Programs.
;
; Built by packaging/windows/build-installer, which stages the files and
; passes: VERSION (x.y.z), STAGE (the staged tree), FILES (the folder of
; install-files.nsh and uninstall-files.nsh, the lists of what is installed),
; OUTFILE, ICON, and WITH_WINDOW when the window quillfen.exe is staged.
; Installs and uninstalls silently with /S.

!ifndef VERSION
  !error "build with packaging/windows/build-installer"
!endif

Unicode true
Target amd64-unicode
SetCompressor /SOLID lzma
; The installed files keep the times of the staged ones, which
; build-installer sets to the source's date: nothing of the build machine's
; clock gets into the installer.
SetDateSave on
ManifestDPIAware true
RequestExecutionLevel admin

!define APP "Quillfen"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Quillfen"
!define PROGID "Quillfen.Export"

Name "${APP}"
OutFile "${OUTFILE}"
InstallDir "$PROGRAMFILES64\${APP}"
InstallDirRegKey HKLM "${UNINSTALL_KEY}" "InstallLocation"
BrandingText "${APP} ${VERSION}"

VIProductVersion "${VERSION}.0"
VIFileVersion "${VERSION}.0"
VIAddVersionKey /LANG=1033 "ProductName" "${APP}"
VIAddVersionKey /LANG=1033 "ProductVersion" "${VERSION}"
VIAddVersionKey /LANG=1033 "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=1033 "CompanyName" "${APP}"
VIAddVersionKey /LANG=1033 "FileDescription" "${APP} ${VERSION} Setup"
VIAddVersionKey /LANG=1033 "LegalCopyright" "Copyright 2026 Quillfen developers"

!include "MUI2.nsh"
!include "LogicLib.nsh"
!include "x64.nsh"

!define MUI_ICON "${ICON}"
!define MUI_UNICON "${ICON}"
!define MUI_ABORTWARNING

!insertmacro MUI_PAGE_WELCOME
!insertmacro MUI_PAGE_LICENSE "${STAGE}\LICENSE.txt"
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_PAGE_FINISH
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "English"

!ifdef WITH_WINDOW
  !define SHORTCUT "$SMPROGRAMS\${APP}.lnk"
!else
  !define SHORTCUT "$SMPROGRAMS\${APP} command line.lnk"
!endif

; Start-menu entries and registry keys are the machine's, in its 64-bit view.
!macro MachineWide
  SetShellVarContext all
  SetRegView 64
!macroend

Function .onInit
  ${IfNot} ${RunningX64}
    MessageBox MB_ICONSTOP "${APP} needs a 64-bit Windows." /SD IDOK
    Abort
  ${EndIf}
  !insertmacro MachineWide
FunctionEnd

Function un.onInit
  !insertmacro MachineWide
FunctionEnd

Section "Quillfen" SecMain
  SectionIn RO
  ; An earlier install in the same folder is removed first, by its own
  ; uninstaller (run in place, so that it is done when ExecWait returns):
  ; a file the new version no longer has must not stay behind.
  ${If} ${FileExists} "$INSTDIR\uninstall.exe"
    ExecWait '"$INSTDIR\uninstall.exe" /S _?=$INSTDIR'
    Delete "$INSTDIR\uninstall.exe"
  ${EndIf}

  !include "${FILES}\install-files.nsh"
  WriteUninstaller "$INSTDIR\uninstall.exe"

!ifdef WITH_WINDOW
  CreateShortcut "${SHORTCUT}" "$INSTDIR\bin\quillfen.exe" "" "$INSTDIR\bin\quillfen.exe" 0
  !define DISPLAY_ICON "$INSTDIR\bin\quillfen.exe,0"

  ; "Open with" for export archives, without taking over what opens a .tgz
  ; by default: the program is offered for .tgz, and a ProgID of its own is
  ; listed among the type's choices.
  WriteRegStr HKLM "Software\Classes\Applications\quillfen.exe" "FriendlyAppName" "${APP}"
  WriteRegStr HKLM "Software\Classes\Applications\quillfen.exe\SupportedTypes" ".tgz" ""
  WriteRegStr HKLM "Software\Classes\Applications\quillfen.exe\DefaultIcon" "" "$INSTDIR\bin\quillfen.exe,0"
  WriteRegStr HKLM "Software\Classes\Applications\quillfen.exe\shell\open\command" "" '"$INSTDIR\bin\quillfen.exe" "%1"'
  WriteRegStr HKLM "Software\Classes\${PROGID}" "" "Mail export (${APP})"
  WriteRegStr HKLM "Software\Classes\${PROGID}" "FriendlyTypeName" "Mail export"
  WriteRegStr HKLM "Software\Classes\${PROGID}\DefaultIcon" "" "$INSTDIR\bin\quillfen.exe,0"
  WriteRegStr HKLM "Software\Classes\${PROGID}\shell\open" "FriendlyAppName" "${APP}"
  WriteRegStr HKLM "Software\Classes\${PROGID}\shell\open\command" "" '"$INSTDIR\bin\quillfen.exe" "%1"'
  WriteRegStr HKLM "Software\Classes\.tgz\OpenWithProgids" "${PROGID}" ""
  ; SHCNE_ASSOCCHANGED: Explorer rereads the associations.
  System::Call 'shell32::SHChangeNotify(i 0x08000000, i 0, p 0, p 0)'
!else
  ; Without the window, the entry opens a command prompt in the command
  ; line's folder, showing its options.
  SetOutPath "$INSTDIR\bin"
  CreateShortcut "${SHORTCUT}" "$SYSDIR\cmd.exe" '/k quillfen-cli.exe --help' "$INSTDIR\quillfen.ico" 0
  !define DISPLAY_ICON "$INSTDIR\quillfen.ico"
!endif

  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "${APP}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "${APP}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" "${DISPLAY_ICON}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
  WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
  WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  SectionGetSize ${SecMain} $0
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "EstimatedSize" $0
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
SectionEnd

Section "Uninstall"
  Delete "${SHORTCUT}"
!ifdef WITH_WINDOW
  DeleteRegKey HKLM "Software\Classes\Applications\quillfen.exe"
  DeleteRegKey HKLM "Software\Classes\${PROGID}"
  DeleteRegValue HKLM "Software\Classes\.tgz\OpenWithProgids" "${PROGID}"
  ; The type's keys go only where nothing else is left in them.
  DeleteRegKey /ifempty HKLM "Software\Classes\.tgz\OpenWithProgids"
  DeleteRegKey /ifempty HKLM "Software\Classes\.tgz"
  System::Call 'shell32::SHChangeNotify(i 0x08000000, i 0, p 0, p 0)'
!endif
  DeleteRegKey HKLM "${UNINSTALL_KEY}"

  ; The files that were installed, one by one, and the folders they leave
  ; empty: whatever else is in the install folder stays.
  !include "${FILES}\uninstall-files.nsh"
  Delete "$INSTDIR\uninstall.exe"
  RMDir "$INSTDIR"
SectionEnd
