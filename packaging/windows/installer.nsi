; The installer of the KV-58 Scroll Controller for 64-bit Windows, built by
; scripts/package-windows with Debian's makensis:
;   makensis -DVERSION=1.2.3 -DSOURCE_DIR=<the runtime folder> -DOUTPUT=<setup.exe> -DICON=<.ico>
;            -DSIZE_KB=<installed size> -DFILE_LIST=<the uninstaller's Delete lines> installer.nsi
; It installs for every user of the machine under Program Files, adds two Start-menu
; shortcuts (the program, and the display's simulator in a console) and an uninstaller listed
; in "Apps & features". /S installs (and uninstalls) silently. An optional component, unticked
; unless /SERVICE is given, registers `kv58 serve` as the Windows service kv58-serve over the
; displays of %ProgramData%\kv58\ports; the uninstaller removes the service (kv58's files in
; ProgramData stay).

Unicode true
!include "FileFunc.nsh"
!include "Sections.nsh"
Target amd64-unicode
SetCompressor /SOLID lzma
RequestExecutionLevel admin
ManifestDPIAware true

!define PRODUCT "KV-58 Scroll Controller"
!define EXE "kv58-controller.exe"
!define SIMULATOR "KV-58 simulator"
!define SIMULATOR_URL "rfc2217://127.0.0.1:4001"
!define SERVICE "kv58-serve"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\kv58-controller"

Name "${PRODUCT} ${VERSION}"
OutFile "${OUTPUT}"
InstallDir "$PROGRAMFILES64\${PRODUCT}"
InstallDirRegKey HKLM "${UNINSTALL_KEY}" "InstallLocation"
BrandingText "${PRODUCT} ${VERSION}"
Icon "${ICON}"
UninstallIcon "${ICON}"

VIProductVersion "${VERSION}.0"
VIAddVersionKey "ProductName" "${PRODUCT}"
VIAddVersionKey "ProductVersion" "${VERSION}"
VIAddVersionKey "FileVersion" "${VERSION}"
VIAddVersionKey "FileDescription" "${PRODUCT} setup"
VIAddVersionKey "LegalCopyright" "See licenses\README.txt"

Page components
Page directory
Page instfiles
UninstPage uninstConfirm
UninstPage instfiles

Function un.onInit
  SetRegView 64
  SetShellVarContext all
FunctionEnd

Section "${PRODUCT}" SectionProgram
  SectionIn RO
  SetOutPath "$INSTDIR"
  File /r "${SOURCE_DIR}\*.*"
  WriteUninstaller "$INSTDIR\uninstall.exe"

  ; The program reads lang.txt from its working directory: the shortcut starts it in the
  ; installation folder, where the shipped lang.txt is.
  SetOutPath "$INSTDIR"
  CreateShortCut "$SMPROGRAMS\${PRODUCT}.lnk" "$INSTDIR\${EXE}" "" "$INSTDIR\${EXE}" 0
  ; The simulator opens a console of its own, listens where the program can reach it, and
  ; says there what to type into the PORT box.
  CreateShortCut "$SMPROGRAMS\${SIMULATOR}.lnk" "$INSTDIR\kv58-sim.exe" "--listen ${SIMULATOR_URL}" \
    "$INSTDIR\${EXE}" 0 SW_SHOWNORMAL "" "Stands in for the display at ${SIMULATOR_URL}"

  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\${EXE}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
  WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "EstimatedSize" ${SIZE_KB}
SectionEnd

; kv58 serve as a service, started by hand (services.msc, or sc start kv58-serve) once the
; ports file names the displays; with SetShellVarContext all, $APPDATA is %ProgramData%. A
; ports file already there is kept.
Section /o "kv58 serve as a Windows service (${SERVICE})" SectionService
  CreateDirectory "$APPDATA\kv58"
  IfFileExists "$APPDATA\kv58\ports" ports_ready
  FileOpen $0 "$APPDATA\kv58\ports" w
  FileWrite $0 "# The displays that kv58 serve (the service ${SERVICE}) serves, one a line: an optional$\r$\n"
  FileWrite $0 "# name, the port, then tags. '#' begins a comment.$\r$\n"
  FileWrite $0 "#$\r$\n"
  FileWrite $0 "#   hall-1     COM3                        hall ground-floor$\r$\n"
  FileWrite $0 "#   hall-2     rfc2217://10.0.0.5:4001     hall$\r$\n"
  FileWrite $0 "#$\r$\n"
  FileWrite $0 "# Then start the service: sc start ${SERVICE}$\r$\n"
  FileClose $0
  ports_ready:
  nsExec::ExecToLog '"$INSTDIR\kv58.exe" serve --install-service --ports-file "$APPDATA\kv58\ports"'
  Pop $0
  StrCmp $0 0 service_installed
  MessageBox MB_OK|MB_ICONEXCLAMATION "The service ${SERVICE} could not be installed (kv58 ended with $0)." /SD IDOK
  service_installed:
SectionEnd

; /SERVICE on the command line ticks the service component, also for a silent install
; (setup.exe /S /SERVICE).
Function .onInit
  SetRegView 64
  SetShellVarContext all
  ${GetParameters} $R0
  ClearErrors
  ${GetOptions} $R0 "/SERVICE" $R1
  IfErrors no_service_option
  !insertmacro SelectSection ${SectionService}
  no_service_option:
FunctionEnd

Section "Uninstall"
  ; The service first, while kv58.exe is there to stop and remove it; nothing to do when it
  ; was never installed.
  IfFileExists "$INSTDIR\kv58.exe" 0 service_removed
  nsExec::ExecToLog '"$INSTDIR\kv58.exe" serve --uninstall-service'
  Pop $0
  service_removed:
  Delete "$SMPROGRAMS\${PRODUCT}.lnk"
  Delete "$SMPROGRAMS\${SIMULATOR}.lnk"
  DeleteRegKey HKLM "${UNINSTALL_KEY}"
  ; Only what the installer put there: a folder the user chose may hold other files.
  !include "${FILE_LIST}"
  Delete "$INSTDIR\uninstall.exe"
  RMDir "$INSTDIR"
SectionEnd
