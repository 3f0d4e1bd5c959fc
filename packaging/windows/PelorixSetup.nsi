; The Windows installer PelorixSetup.exe (NSIS). Built by the Windows build when makensis is
; there: makensis -DBUILD=<windows build dir> -DSOURCE=<source dir> -DOUTFILE=<exe> PelorixSetup.nsi
; Silent: PelorixSetup.exe /S [/D=directory]; the uninstaller likewise with /S (keeps the settings).
Unicode true
; 64-bit: the service and the manager are 64-bit programs, and a 64-bit-only Wine runs it too.
Target amd64-unicode
SetCompressor /SOLID lzma
!include "MUI2.nsh"
!include "x64.nsh"

Name "Pelorix"
OutFile "${OUTFILE}"
InstallDir "$PROGRAMFILES64\Pelorix"
RequestExecutionLevel admin
!define UNINSTKEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Pelorix"
!define RUNKEY "Software\Microsoft\Windows\CurrentVersion\Run"

!define MUI_ABORTWARNING
!insertmacro MUI_PAGE_WELCOME
!insertmacro MUI_PAGE_COMPONENTS
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_PAGE_FINISH
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_COMPONENTS
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "German"

Function .onInit
    SetRegView 64
FunctionEnd

Function un.onInit
    SetRegView 64
FunctionEnd

Section "Pelorix (Dienst, Manager, Vorlagen, Hilfe)" SecMain
    SectionIn RO
    SetOutPath "$INSTDIR"
    ; An earlier version's service must let go of its program first.
    nsExec::Exec '"$INSTDIR\PelorixSvc.exe" /UNINSTALL /SILENT'
    File "${BUILD}\src\svc\PelorixSvc.exe"
    File "${BUILD}\src\wmgr\PelorixMgr.exe"
    File "${SOURCE}\dist\LiesMich.htm"
    File "${SOURCE}\dist\Online.htm"
    File "${SOURCE}\dist\Offline.htm"
    File "${SOURCE}\dist\Pelorix.htm"
    ; Settings a user already has stay as they are.
    IfFileExists "$INSTDIR\Pelorix.ini" +4 0
        FileOpen $0 "$INSTDIR\Pelorix.ini" w
        FileWrite $0 "[Settings]$\r$\n"
        FileClose $0
    ; The manager runs as the logged-on user, the service as the local system: the users may
    ; change the settings file (Modify for the group Users, S-1-5-32-545).
    nsExec::Exec 'icacls "$INSTDIR\Pelorix.ini" /grant *S-1-5-32-545:M'
    nsExec::ExecToLog '"$INSTDIR\PelorixSvc.exe" /INSTALL /SILENT'
    Pop $0
    StrCmp $0 "0" +2 0
        DetailPrint "Der Dienst konnte nicht registriert werden (Code $0)."
    CreateDirectory "$SMPROGRAMS\Pelorix"
    CreateShortcut "$SMPROGRAMS\Pelorix\Pelorix-Manager.lnk" "$INSTDIR\PelorixMgr.exe"
    CreateShortcut "$SMPROGRAMS\Pelorix\Pelorix-Hilfe.lnk" "$INSTDIR\LiesMich.htm"
    WriteUninstaller "$INSTDIR\Deinstallieren.exe"
    WriteRegStr HKLM "${UNINSTKEY}" "DisplayName" "Pelorix"
    WriteRegStr HKLM "${UNINSTKEY}" "UninstallString" '"$INSTDIR\Deinstallieren.exe"'
    WriteRegStr HKLM "${UNINSTKEY}" "QuietUninstallString" '"$INSTDIR\Deinstallieren.exe" /S'
    WriteRegStr HKLM "${UNINSTKEY}" "InstallLocation" "$INSTDIR"
    WriteRegDWORD HKLM "${UNINSTKEY}" "NoModify" 1
    WriteRegDWORD HKLM "${UNINSTKEY}" "NoRepair" 1
SectionEnd

Section /o "Manager bei der Anmeldung starten (im Infobereich)" SecAutostart
    WriteRegStr HKLM "${RUNKEY}" "Pelorix-Manager" '"$INSTDIR\PelorixMgr.exe"'
SectionEnd

LangString DESC_SecMain ${LANG_GERMAN} "Der Hintergrunddienst (als Windows-Dienst registriert), der Manager, die Seitenvorlagen und die Hilfe."
LangString DESC_SecAutostart ${LANG_GERMAN} "Startet den Manager bei jeder Anmeldung; mit der Einstellung $\"versteckt$\" liegt er dann nur im Infobereich der Taskleiste."
!insertmacro MUI_FUNCTION_DESCRIPTION_BEGIN
    !insertmacro MUI_DESCRIPTION_TEXT ${SecMain} $(DESC_SecMain)
    !insertmacro MUI_DESCRIPTION_TEXT ${SecAutostart} $(DESC_SecAutostart)
!insertmacro MUI_FUNCTION_DESCRIPTION_END

Section "un.Pelorix entfernen (Dienst und Programme)" UnSecMain
    SectionIn RO
    nsExec::ExecToLog '"$INSTDIR\PelorixSvc.exe" /UNINSTALL /SILENT'
    Delete "$INSTDIR\PelorixSvc.exe"
    Delete "$INSTDIR\PelorixMgr.exe"
    Delete "$INSTDIR\LiesMich.htm"
    Delete "$INSTDIR\Online.htm"
    Delete "$INSTDIR\Offline.htm"
    Delete "$INSTDIR\Pelorix.htm"
    Delete "$INSTDIR\Deinstallieren.exe"
    RMDir /r "$SMPROGRAMS\Pelorix"
    DeleteRegValue HKLM "${RUNKEY}" "Pelorix-Manager"
    DeleteRegKey HKLM "${UNINSTKEY}"
SectionEnd

Section /o "un.Einstellungen und Protokoll entfernen (Pelorix.ini, Pelorix.log)" UnSecSettings
    Delete "$INSTDIR\Pelorix.ini"
    Delete "$INSTDIR\Pelorix.log"
    Delete "$INSTDIR\PelorixTmp.htm"
SectionEnd

Section "-un.Ende"
    ; Only an empty directory goes: kept settings keep it.
    RMDir "$INSTDIR"
SectionEnd
