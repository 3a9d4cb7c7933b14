; The Windows installer of KORU: the program folder made by scripts/package-windows, a Start-menu
; entry, an entry in Add/Remove Programs with an uninstaller, and koru-cli on the PATH if chosen.
; Silent: setup.exe /S [/PATH] [/D=C:\folder]. The uninstaller removes exactly the files it
; installed; the operator's settings (HKCU\Software\lumatrix) and line database stay.
;
; Defined by the caller (makensis -D...): VERSION, STAGE (the program folder), OUTFILE, ICON, and
; FILES_NSH / REMOVE_NSH, the File and Delete lines for the staged files.

; A 64-bit installer: it needs no 32-bit subsystem (WoW64) on the machine, and sees the
; 64-bit registry and Program Files as the programs do.
Target amd64-unicode
SetCompressor /SOLID lzma
RequestExecutionLevel admin
ManifestDPIAware true

!include MUI2.nsh
!include LogicLib.nsh
!include FileFunc.nsh
!include StrFunc.nsh
!include WinMessages.nsh
${StrStr}
${UnStrRep}

!define PRODUCT "KORU Programmer"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\KORU"
!define ENVIRONMENT_KEY "SYSTEM\CurrentControlSet\Control\Session Manager\Environment"

Name "${PRODUCT} ${VERSION}"
OutFile "${OUTFILE}"
InstallDir "$PROGRAMFILES64\KORU"
InstallDirRegKey HKLM "${UNINSTALL_KEY}" "InstallLocation"
BrandingText "${PRODUCT} ${VERSION}"

!define MUI_ICON "${ICON}"
!define MUI_UNICON "${ICON}"
!define MUI_FINISHPAGE_RUN "$INSTDIR\koru.exe"
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_COMPONENTS
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_PAGE_FINISH
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "SimpChinese"
!insertmacro MUI_LANGUAGE "English"

LangString SectionProgram ${LANG_SIMPCHINESE} "KORU 编程器"
LangString SectionProgram ${LANG_ENGLISH} "KORU Programmer"
LangString SectionPath ${LANG_SIMPCHINESE} "将 koru-cli 加入 PATH"
LangString SectionPath ${LANG_ENGLISH} "Put koru-cli on the PATH"

VIProductVersion "${VERSION}.0.0"
VIAddVersionKey /LANG=${LANG_SIMPCHINESE} "ProductName" "${PRODUCT}"
VIAddVersionKey /LANG=${LANG_SIMPCHINESE} "FileDescription" "${PRODUCT} Setup"
VIAddVersionKey /LANG=${LANG_SIMPCHINESE} "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=${LANG_SIMPCHINESE} "ProductVersion" "${VERSION}"
VIAddVersionKey /LANG=${LANG_SIMPCHINESE} "CompanyName" "lumatrix"
VIAddVersionKey /LANG=${LANG_SIMPCHINESE} "LegalCopyright" "lumatrix"

Section "!$(SectionProgram)" SecProgram
    SectionIn RO
    SetShellVarContext all
    !include "${FILES_NSH}"
    WriteUninstaller "$INSTDIR\uninstall.exe"
    CreateShortcut "$SMPROGRAMS\${PRODUCT}.lnk" "$INSTDIR\koru.exe" "" "$INSTDIR\koru.exe" 0

    WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT}"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "lumatrix"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\koru.exe,0"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
    WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
    WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
    WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
    ${GetSize} "$INSTDIR" "/S=0K" $0 $1 $2
    IntFmt $0 "0x%08X" $0
    WriteRegDWORD HKLM "${UNINSTALL_KEY}" "EstimatedSize" "$0"
SectionEnd

; Appends the program folder to the machine's PATH once; the uninstaller takes it out again
; only if this installer put it there.
Section /o "$(SectionPath)" SecPath
    ReadRegStr $0 HKLM "${ENVIRONMENT_KEY}" "Path"
    ${StrStr} $1 "$0;" "$INSTDIR;"
    ${If} $1 == ""
        ${If} $0 == ""
            WriteRegExpandStr HKLM "${ENVIRONMENT_KEY}" "Path" "$INSTDIR"
        ${Else}
            WriteRegExpandStr HKLM "${ENVIRONMENT_KEY}" "Path" "$0;$INSTDIR"
        ${EndIf}
        WriteRegDWORD HKLM "${UNINSTALL_KEY}" "AddedToPath" 1
        SendMessage ${HWND_BROADCAST} ${WM_WININICHANGE} 0 "STR:Environment" /TIMEOUT=5000
    ${EndIf}
SectionEnd

Function .onInit
    ; /PATH on the command line ticks the PATH entry, for silent installs.
    ${GetParameters} $0
    ClearErrors
    ${GetOptions} $0 "/PATH" $1
    ${IfNot} ${Errors}
        SectionSetFlags ${SecPath} ${SF_SELECTED}
    ${EndIf}
FunctionEnd

Section "Uninstall"
    SetShellVarContext all
    ReadRegDWORD $0 HKLM "${UNINSTALL_KEY}" "AddedToPath"
    ${If} $0 == 1
        ReadRegStr $1 HKLM "${ENVIRONMENT_KEY}" "Path"
        ${UnStrRep} $1 "$1" ";$INSTDIR" ""
        ${UnStrRep} $1 "$1" "$INSTDIR;" ""
        ${UnStrRep} $1 "$1" "$INSTDIR" ""
        WriteRegExpandStr HKLM "${ENVIRONMENT_KEY}" "Path" "$1"
        SendMessage ${HWND_BROADCAST} ${WM_WININICHANGE} 0 "STR:Environment" /TIMEOUT=5000
    ${EndIf}
    Delete "$SMPROGRAMS\${PRODUCT}.lnk"
    !include "${REMOVE_NSH}"
    Delete "$INSTDIR\uninstall.exe"
    ; Only empty folders go: anything the operator put there stays.
    RMDir "$INSTDIR"
    DeleteRegKey HKLM "${UNINSTALL_KEY}"
SectionEnd
