; Per-user installer of Korvane TV. The program reads and writes its files in its working
; folder, so it goes where the user can write without elevation: the user's local programs
; folder, never Program Files.
;
; Defined by packaging/make_dist.py on the makensis command line:
;   VERSION_TEXT (shown, e.g. 0.3a), VERSION_MAJOR, VERSION_MINOR, VERSION_PATCH, PUBLISHER,
;   LEGAL_COPYRIGHT (with the licence's identifier), LICENCE_FILE (the program's licence, as
;   staged), FILE_LIST (macros that install and remove the staged files), ICON, OUT_FILE.

Unicode true
Target amd64-unicode
SetCompressor /SOLID lzma
RequestExecutionLevel user
ManifestDPIAware true

!define PRODUCT "Korvane TV"
!define EXE "korvane-tv.exe"
!define UNINSTALLER "uninstall.exe"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Korvane TV"
; Created by the running program: it is open while this exists.
!define PROGRAM_MUTEX "Korvane TV"
; What the program and the user leave in its folder: kept by default on uninstall.
!define USER_FILES_TEXT "vos réglages (config.ini), votre liste de chaînes (chaines.xml), vos enregistrements programmés (programmation.xml), vos enregistrements (.mpg) et vos captures d'écran (.bmp)"

Name "${PRODUCT}"
OutFile "${OUT_FILE}"
InstallDir "$LOCALAPPDATA\Programs\${PRODUCT}"
InstallDirRegKey HKCU "${UNINSTALL_KEY}" "InstallLocation"
BrandingText "${PRODUCT} ${VERSION_TEXT}"

!include "MUI2.nsh"
!include "LogicLib.nsh"
!include "FileFunc.nsh"
!include "nsDialogs.nsh"
!include "${FILE_LIST}"

!define MUI_ICON "${ICON}"
!define MUI_UNICON "${ICON}"
!define MUI_ABORTWARNING
!define MUI_COMPONENTSPAGE_NODESC

!insertmacro MUI_PAGE_WELCOME
; The licence asks nothing of whoever only runs the program: a page to read, not to accept.
!define MUI_LICENSEPAGE_TEXT_BOTTOM "Korvane TV est un logiciel libre sous licence GPL-2.0-or-later : vous pouvez l'utiliser sans condition ; le copier, le modifier et le redistribuer aux conditions de cette licence."
!define MUI_LICENSEPAGE_BUTTON "$(^NextBtn)"
!insertmacro MUI_PAGE_LICENSE "${LICENCE_FILE}"
!insertmacro MUI_PAGE_COMPONENTS
!define MUI_PAGE_CUSTOMFUNCTION_LEAVE CheckChosenFolder
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!define MUI_FINISHPAGE_RUN
!define MUI_FINISHPAGE_RUN_FUNCTION StartProgram
!define MUI_FINISHPAGE_SHOWREADME "$INSTDIR\Lisez-moi.txt"
!define MUI_FINISHPAGE_SHOWREADME_TEXT "Afficher le fichier Lisez-moi"
!define MUI_FINISHPAGE_SHOWREADME_NOTCHECKED
!insertmacro MUI_PAGE_FINISH

UninstPage custom un.ConfirmPage un.ConfirmPageLeave
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_UNPAGE_FINISH

!insertmacro MUI_LANGUAGE "French"

VIProductVersion "${VERSION_MAJOR}.${VERSION_MINOR}.${VERSION_PATCH}.0"
VIFileVersion "${VERSION_MAJOR}.${VERSION_MINOR}.${VERSION_PATCH}.0"
VIAddVersionKey /LANG=${LANG_FRENCH} "ProductName" "${PRODUCT}"
VIAddVersionKey /LANG=${LANG_FRENCH} "ProductVersion" "${VERSION_TEXT}"
VIAddVersionKey /LANG=${LANG_FRENCH} "FileVersion" "${VERSION_TEXT}"
VIAddVersionKey /LANG=${LANG_FRENCH} "FileDescription" "Installation de ${PRODUCT}"
VIAddVersionKey /LANG=${LANG_FRENCH} "CompanyName" "${PUBLISHER}"
VIAddVersionKey /LANG=${LANG_FRENCH} "LegalCopyright" "${LEGAL_COPYRIGHT}"

Var RemoveUserFiles
Var RemoveUserFilesBox

; Files in use cannot be replaced or removed: ask the user to close the program first.
; Silent runs give up with exit code 2.
!macro DEFINE_CHECK_PROGRAM_CLOSED prefix
Function ${prefix}CheckProgramClosed
    retry:
    System::Call 'kernel32::OpenMutexW(i 0x00100000, i 0, w "${PROGRAM_MUTEX}") p .r0'
    ${If} $0 P<> 0
        System::Call 'kernel32::CloseHandle(p r0)'
        MessageBox MB_RETRYCANCEL|MB_ICONEXCLAMATION \
            "${PRODUCT} est ouvert. Fermez-le, puis cliquez sur Réessayer." \
            /SD IDCANCEL IDRETRY retry
        SetErrorLevel 2
        Quit
    ${EndIf}
FunctionEnd
!macroend
!insertmacro DEFINE_CHECK_PROGRAM_CLOSED ""
!insertmacro DEFINE_CHECK_PROGRAM_CLOSED "un."

; Sets the error flag when the program could not write its settings in $INSTDIR.
Function CheckFolderWritable
    StrCpy $1 ""
    ${IfNot} ${FileExists} "$INSTDIR\*.*"
        StrCpy $1 "created"
    ${EndIf}
    StrCpy $2 "writable"
    CreateDirectory "$INSTDIR"
    ClearErrors
    FileOpen $0 "$INSTDIR\korvane-tv-essai.tmp" w
    ${If} ${Errors}
        StrCpy $2 ""
    ${Else}
        FileClose $0
        Delete "$INSTDIR\korvane-tv-essai.tmp"
    ${EndIf}
    ${If} $1 == "created"
        RMDir "$INSTDIR"
    ${EndIf}
    ClearErrors
    ${If} $2 != "writable"
        SetErrors
    ${EndIf}
FunctionEnd

Function CheckChosenFolder
    Call CheckFolderWritable
    ${If} ${Errors}
        MessageBox MB_OK|MB_ICONEXCLAMATION \
            "Impossible d'écrire dans le dossier « $INSTDIR ».$\r$\n$\r$\n${PRODUCT} enregistre ses réglages et sa liste de chaînes dans son dossier : choisissez un dossier où vous pouvez écrire, par exemple « $LOCALAPPDATA\Programs\${PRODUCT} »."
        Abort
    ${EndIf}
FunctionEnd

; The program finds its files in its working folder.
Function StartProgram
    SetOutPath "$INSTDIR"
    Exec '"$INSTDIR\${EXE}"'
FunctionEnd

Function .onInit
    SetShellVarContext current
    Call CheckProgramClosed
FunctionEnd

Section "!${PRODUCT}" SectionProgram
    SectionIn RO
    Call CheckFolderWritable
    ${If} ${Errors}
        MessageBox MB_OK|MB_ICONSTOP "Impossible d'écrire dans le dossier « $INSTDIR »." /SD IDOK
        SetErrorLevel 2
        Abort
    ${EndIf}
    !insertmacro INSTALL_FILES
    WriteUninstaller "$INSTDIR\${UNINSTALLER}"

    ; Shortcuts take $OUTDIR as their working folder.
    SetOutPath "$INSTDIR"
    CreateShortcut "$SMPROGRAMS\${PRODUCT}.lnk" "$INSTDIR\${EXE}" "" "$INSTDIR\${EXE}" 0 \
        SW_SHOWNORMAL "" "Regarder et enregistrer la TNT"

    WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT}"
    WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION_TEXT}"
    WriteRegDWORD HKCU "${UNINSTALL_KEY}" "VersionMajor" ${VERSION_MAJOR}
    WriteRegDWORD HKCU "${UNINSTALL_KEY}" "VersionMinor" ${VERSION_MINOR}
    WriteRegStr HKCU "${UNINSTALL_KEY}" "Publisher" "${PUBLISHER}"
    WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\${EXE},0"
    WriteRegStr HKCU "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
    WriteRegStr HKCU "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\${UNINSTALLER}"'
    WriteRegStr HKCU "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\${UNINSTALLER}" /S'
    WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoModify" 1
    WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoRepair" 1
    ; The program's own files in KiB; recordings made later do not count.
    SectionGetSize ${SectionProgram} $0
    WriteRegDWORD HKCU "${UNINSTALL_KEY}" "EstimatedSize" $0
SectionEnd

Section "Raccourci sur le Bureau" SectionDesktop
    SetOutPath "$INSTDIR"
    CreateShortcut "$DESKTOP\${PRODUCT}.lnk" "$INSTDIR\${EXE}" "" "$INSTDIR\${EXE}" 0 \
        SW_SHOWNORMAL "" "Regarder et enregistrer la TNT"
SectionEnd

; A desktop shortcut left by an earlier installation goes when the user unticks it now.
Section "-RemoveUnwantedDesktopShortcut"
    ${IfNot} ${SectionIsSelected} ${SectionDesktop}
        Delete "$DESKTOP\${PRODUCT}.lnk"
    ${EndIf}
SectionEnd

Function un.onInit
    SetShellVarContext current
    StrCpy $RemoveUserFiles ${BST_UNCHECKED}
    ; /PURGE: a silent uninstall that also removes the user's files.
    ${GetParameters} $0
    ClearErrors
    ${GetOptions} $0 "/PURGE" $1
    ${IfNot} ${Errors}
        StrCpy $RemoveUserFiles ${BST_CHECKED}
    ${EndIf}
    Call un.CheckProgramClosed
FunctionEnd

Function un.ConfirmPage
    !insertmacro MUI_HEADER_TEXT "Désinstaller ${PRODUCT}" "Supprimer ${PRODUCT} de votre ordinateur."
    nsDialogs::Create 1018
    Pop $0
    ${NSD_CreateLabel} 0 0 100% 24u "${PRODUCT} va être supprimé du dossier suivant. Cliquez sur Désinstaller pour continuer."
    Pop $0
    ${NSD_CreateText} 0 28u 100% 12u "$INSTDIR"
    Pop $0
    SendMessage $0 ${EM_SETREADONLY} 1 0
    ${NSD_CreateLabel} 0 52u 100% 36u "Le programme, ses raccourcis et ses fichiers sont supprimés. Sont conservés ${USER_FILES_TEXT} qui se trouvent dans ce dossier, sauf si vous cochez la case ci-dessous."
    Pop $0
    ${NSD_CreateCheckbox} 0 92u 100% 24u "Supprimer aussi mes réglages, ma liste de chaînes, ma programmation, mes enregistrements et mes captures d'écran de ce dossier"
    Pop $RemoveUserFilesBox
    ${NSD_SetState} $RemoveUserFilesBox $RemoveUserFiles
    GetDlgItem $0 $HWNDPARENT 1
    SendMessage $0 ${WM_SETTEXT} 0 "STR:$(^UninstallBtn)"
    nsDialogs::Show
FunctionEnd

Function un.ConfirmPageLeave
    ${NSD_GetState} $RemoveUserFilesBox $RemoveUserFiles
FunctionEnd

; The uninstaller that started this copy of itself may not have ended yet, and a running
; program cannot be deleted: without its file gone, the folder would stay.
Function un.DeleteUninstaller
    StrCpy $0 0
    ${Do}
        Delete "$INSTDIR\${UNINSTALLER}"
        ${IfNot} ${FileExists} "$INSTDIR\${UNINSTALLER}"
            ${Break}
        ${EndIf}
        Sleep 100
        IntOp $0 $0 + 1
    ${LoopUntil} $0 >= 100
FunctionEnd

Section "Uninstall"
    !insertmacro REMOVE_FILES
    Delete "$SMPROGRAMS\${PRODUCT}.lnk"
    Delete "$DESKTOP\${PRODUCT}.lnk"
    ${If} $RemoveUserFiles == ${BST_CHECKED}
        ; With the copies the program leaves beside them: a damaged file kept aside
        ; (".illisible", " (2)"...) and a replace cut short (".tmp").
        Delete "$INSTDIR\config.ini"
        Delete "$INSTDIR\config.ini.tmp"
        Delete "$INSTDIR\chaines.xml"
        Delete "$INSTDIR\chaines.xml.*"
        Delete "$INSTDIR\programmation.xml"
        Delete "$INSTDIR\programmation.xml.*"
        Delete "$INSTDIR\*.mpg"
        Delete "$INSTDIR\*.bmp"
    ${EndIf}
    Call un.DeleteUninstaller
    ; Only when empty: whatever the user keeps there stays.
    RMDir "$INSTDIR"
    DeleteRegKey HKCU "${UNINSTALL_KEY}"
SectionEnd
