; Per-user installer of the Windows program: no administrator rights, installs into
; $LOCALAPPDATA\Programs\Qiongzhi, adds a Start-menu entry and an uninstaller registered under the
; user's Uninstall key. The program keeps its data/, down/ and logs/ beside qiongzhi.exe, which a
; per-user folder allows.
;
; makensis -DVERSION=2.7 -DEXE=<qiongzhi.exe> [-DCLI=<qiongzhi-cli.exe>]
;          [-DEXE64=<64-bit qiongzhi.exe> [-DCLI64=<64-bit qiongzhi-cli.exe>]] [-DTARGET64]
;          -DICON=<qiongzhi.ico> -DOUTFILE=<setup.exe> qiongzhi.nsi
;
; The installer itself is 32-bit, so one file runs on every Windows; given EXE64 it puts the
; 64-bit program (no 2 GB address limit) on 64-bit Windows and the 32-bit one elsewhere.
; TARGET64 makes a 64-bit installer whose EXE is the 64-bit program: it runs on 64-bit Windows only.

Unicode true
!ifdef TARGET64
  Target amd64-unicode
!endif
!ifndef VERSION | EXE | ICON | OUTFILE
  !error "VERSION, EXE, ICON and OUTFILE must be defined"
!endif

!define TITLE "琼枝直播下载"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Qiongzhi"

Name "${TITLE}"
Caption "${TITLE} v${VERSION}"
OutFile "${OUTFILE}"
RequestExecutionLevel user
InstallDir "$LOCALAPPDATA\Programs\Qiongzhi"
InstallDirRegKey HKCU "${UNINSTALL_KEY}" "InstallLocation"
SetCompressor /SOLID lzma
ManifestDPIAware true
BrandingText "${TITLE} v${VERSION}"

VIProductVersion "${VERSION}.0.0"
VIAddVersionKey /LANG=2052 "ProductName" "${TITLE}"
VIAddVersionKey /LANG=2052 "FileDescription" "${TITLE} 安装程序"
VIAddVersionKey /LANG=2052 "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=2052 "ProductVersion" "${VERSION}"
VIAddVersionKey /LANG=2052 "LegalCopyright" "${TITLE}"

!include "MUI2.nsh"
!include "x64.nsh"
!define MUI_ICON "${ICON}"
!define MUI_UNICON "${ICON}"
!define MUI_ABORTWARNING
!define MUI_FINISHPAGE_RUN "$INSTDIR\qiongzhi.exe"
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_PAGE_FINISH
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "SimpChinese"
!insertmacro MUI_LANGUAGE "English"

Function .onInit
  SetShellVarContext current
!ifdef TARGET64
  ${IfNot} ${RunningX64}
    MessageBox MB_ICONSTOP "此安装程序只能用于 64 位 Windows。" /SD IDOK
    Abort
  ${EndIf}
!endif
FunctionEnd

Function un.onInit
  SetShellVarContext current
FunctionEnd

Section "${TITLE}" SecProgram
  SectionIn RO
  SetOutPath "$INSTDIR"
!ifdef EXE64
  ${If} ${RunningX64}
    File "/oname=qiongzhi.exe" "${EXE64}"
  !ifdef CLI64
    File "/oname=qiongzhi-cli.exe" "${CLI64}"
  !endif
  ${Else}
!endif
    File "/oname=qiongzhi.exe" "${EXE}"
  !ifdef CLI
    File "/oname=qiongzhi-cli.exe" "${CLI}"
  !endif
!ifdef EXE64
  ${EndIf}
!endif
  WriteUninstaller "$INSTDIR\uninstall.exe"
  CreateShortCut "$SMPROGRAMS\${TITLE}.lnk" "$INSTDIR\qiongzhi.exe" "" "$INSTDIR\qiongzhi.exe" 0

  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayName" "${TITLE}"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\qiongzhi.exe,0"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
  WriteRegStr HKCU "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoRepair" 1
SectionEnd

; Removes what the installer put there and the tools the program fetched for itself. The data/,
; down/ and logs/ folders hold the user's settings and recordings: they stay, and so does the
; install folder while they are in it.
Section "Uninstall"
  Delete "$SMPROGRAMS\${TITLE}.lnk"
  Delete "$INSTDIR\qiongzhi.exe"
  Delete "$INSTDIR\qiongzhi-cli.exe"
  Delete "$INSTDIR\ffm.exe"
  Delete "$INSTDIR\ffplay.exe"
  Delete "$INSTDIR\play.bat"
  ; The uninstaller runs from a copy of itself; the started file may stay locked for a moment.
  StrCpy $0 0
  delete_uninstaller:
  ClearErrors
  Delete "$INSTDIR\uninstall.exe"
  IfErrors 0 +4
  IntOp $0 $0 + 1
  Sleep 250
  IntCmp $0 40 0 delete_uninstaller
  RMDir "$INSTDIR"
  DeleteRegKey HKCU "${UNINSTALL_KEY}"
SectionEnd
