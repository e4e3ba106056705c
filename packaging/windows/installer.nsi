; The installer of the KV-58 Scroll Controller for 64-bit Windows, built by
; scripts/package-windows with Debian's makensis:
;   makensis -DVERSION=1.2.3 -DSOURCE_DIR=<the runtime folder> -DOUTPUT=<setup.exe> -DICON=<.ico>
;            -DSIZE_KB=<installed size> -DFILE_LIST=<the uninstaller's Delete lines> installer.nsi
; It installs for every user of the machine under Program Files, adds two Start-menu
; shortcuts (the program, and the display's simulator in a console) and an uninstaller listed
; in "Apps & features". /S installs (and uninstalls) silently.

Unicode true
Target amd64-unicode
SetCompressor /SOLID lzma
RequestExecutionLevel admin
ManifestDPIAware true

!define PRODUCT "KV-58 Scroll Controller"
!define EXE "kv58-controller.exe"
!define SIMULATOR "KV-58 simulator"
!define SIMULATOR_URL "rfc2217://127.0.0.1:4001"
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

Page directory
Page instfiles
UninstPage uninstConfirm
UninstPage instfiles

Function .onInit
  SetRegView 64
  SetShellVarContext all
FunctionEnd

Function un.onInit
  SetRegView 64
  SetShellVarContext all
FunctionEnd

Section "Install"
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

Section "Uninstall"
  Delete "$SMPROGRAMS\${PRODUCT}.lnk"
  Delete "$SMPROGRAMS\${SIMULATOR}.lnk"
  DeleteRegKey HKLM "${UNINSTALL_KEY}"
  ; Only what the installer put there: a folder the user chose may hold other files.
  !include "${FILE_LIST}"
  Delete "$INSTDIR\uninstall.exe"
  RMDir "$INSTDIR"
SectionEnd
