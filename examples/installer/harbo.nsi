; Example installer of the Vostrel Harbo plug-in: installs the plug-in, its
; uninstall utility and removal script, makes the shortcuts, and registers
; the product with zarnouns.exe, which then also does the uninstall. It
; writes no uninstaller of its own.
;
; makensis -DVERSION=0.3 -DBITS=32|64 -DHARBO_DLL=path -DZARNOUNS_EXE=path -DOUTFILE=path harbo.nsi
;
; BITS=32: the 32-bit plug-in and program, into Program Files (x86) on a
; 64-bit Windows. BITS=64: a 64-bit installer of the 64-bit ones, into the
; native Program Files, for a 64-bit IDE.

!if ${BITS} == 64
Target amd64-unicode
!define INSTALL_ROOT "$PROGRAMFILES64"
!else
Unicode true
!define INSTALL_ROOT "$PROGRAMFILES"
!endif
SetCompressor /SOLID lzma
; No file times in the installer, so that the same inputs give the same bytes.
SetDateSave off

!include LogicLib.nsh

!define PRODUCT "Vostrel Harbo"
!define ENTRY "harbo"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\${ENTRY}"

Name "${PRODUCT}"
OutFile "${OUTFILE}"
InstallDir "${INSTALL_ROOT}\Vostrel\Harbo"
RequestExecutionLevel admin
ShowInstDetails show
!include /CHARSET=UTF8 languages.nsh
BrandingText "$(Branding)"

VIProductVersion "${VERSION}.0.0"
VIAddVersionKey /LANG=0 "ProductName" "${PRODUCT}"
VIAddVersionKey /LANG=0 "FileDescription" "${PRODUCT} setup"
VIAddVersionKey /LANG=0 "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=0 "ProductVersion" "${VERSION}"
VIAddVersionKey /LANG=0 "LegalCopyright" "Example installer of zarnouns.exe"

Page directory "" "" CheckFolder
Page instfiles

; The plug-in never goes straight into a folder that already holds anything
; but an earlier installation of it (one with zarnouns.exe): a working copy
; or another program's files would share its folder. Such a folder gets the
; plug-in's own folder appended, as a folder chosen with Browse does.
Var ChosenFolder
!macro OwnFolder
  StrCpy $ChosenFolder ""
  ${IfNot} ${FileExists} "$INSTDIR\zarnouns.exe"
    FindFirst $0 $1 "$INSTDIR\*"
    ${Do}
      ${If} $1 != "."
      ${AndIf} $1 != ".."
        ${ExitDo}
      ${EndIf}
      FindNext $0 $1
    ${Loop}
    FindClose $0
    ${If} $1 != ""
      StrCpy $ChosenFolder $INSTDIR
      StrCpy $INSTDIR "$INSTDIR\Harbo"
    ${EndIf}
  ${EndIf}
!macroend

; /D= sets the folder before this runs.
Function .onInit
  !insertmacro ChooseLanguage
  !insertmacro OwnFolder
FunctionEnd

Function CheckFolder
  !insertmacro OwnFolder
FunctionEnd

Section "Vostrel Harbo"
  ${If} $ChosenFolder != ""
    DetailPrint "$(OtherFiles)"
  ${EndIf}
  SetOutPath "$INSTDIR"
  File "/oname=harbo.dll" "${HARBO_DLL}"
  File "/oname=zarnouns.exe" "${ZARNOUNS_EXE}"
  File "zarnouns.ini"

  ; The removal script names these folders CSIDL_COMMON_PROGRAMS and
  ; CSIDL_COMMON_DESKTOPDIRECTORY: the all-users Start menu and desktop.
  SetShellVarContext all
  CreateDirectory "$SMPROGRAMS\${PRODUCT}"
  CreateShortcut "$SMPROGRAMS\${PRODUCT}\Uninstall ${PRODUCT}.lnk" "$INSTDIR\zarnouns.exe" '-u "${ENTRY}"'
  CreateShortcut "$DESKTOP\${PRODUCT}.lnk" "$INSTDIR"

  DetailPrint "$(Registering)"
  ExecWait '"$INSTDIR\zarnouns.exe" -r ${ENTRY} "${PRODUCT}"'

  ; zarnouns.exe writes its entry in the registry view of its own bitness,
  ; under HKLM, or under HKCU when HKLM was refused.
  SetRegView ${BITS}
  ReadRegStr $0 HKLM "${UNINSTALL_KEY}" "InstallLocation"
  ${If} $0 == ""
    ReadRegStr $0 HKCU "${UNINSTALL_KEY}" "InstallLocation"
  ${EndIf}
  ${If} $0 != "$INSTDIR\"
    MessageBox MB_OK|MB_ICONSTOP "$(NotRegistered)" /SD IDOK
    DetailPrint "$(NoEntry)"
    SetErrorLevel 2
    Abort "Registration failed"
  ${EndIf}
  DetailPrint "$(Registered)"
SectionEnd
