; An example installer that puts its bin folder on the system PATH with
; semilist, and takes it off again when it is uninstalled.
;
;   makensis -DSEMILIST_EXE=path/to/semilist.exe -DOUTFILE=setup.exe \
;     semilist-example.nsi
;
; It is a 64-bit installer, like semilist.exe itself.

Unicode true
Target amd64-unicode
!include LogicLib.nsh

!ifndef SEMILIST_EXE
  !define SEMILIST_EXE "..\..\build\windows\semilist.exe"
!endif
!ifndef OUTFILE
  !define OUTFILE "semilist-example-setup.exe"
!endif

Name "semilist example"
OutFile "${OUTFILE}"
InstallDir "$PROGRAMFILES64\semilist example"
; semilist.exe asks for administrator rights, and an installer that is not
; elevated could not start it.
RequestExecutionLevel admin
SetCompressor /SOLID lzma

; Runs semilist and stops the installer with a clear message on any status
; but 0; semilist itself prints nothing.
!macro RunSemilist ACTION
  ClearErrors
  ; Installed for all users into Program Files, so the machine's PATH, not
  ; one account's, is the one to edit.
  ExecWait '"$INSTDIR\semilist.exe" ${ACTION} /system PATH "$INSTDIR\bin"' $0
  ${If} ${Errors}
    MessageBox MB_OK|MB_ICONSTOP "Could not start semilist.exe." /SD IDOK
    Abort "Could not start semilist.exe."
  ${ElseIf} $0 <> 0
    MessageBox MB_OK|MB_ICONSTOP \
      "Could not edit the system PATH: semilist ${ACTION} ended with status $0." \
      /SD IDOK
    Abort "semilist ${ACTION} ended with status $0."
  ${EndIf}
!macroend

Section "Install"
  SetOutPath "$INSTDIR"
  File "/oname=semilist.exe" "${SEMILIST_EXE}"
  SetOutPath "$INSTDIR\bin"
  File "hello.cmd"
  WriteUninstaller "$INSTDIR\uninstall.exe"
  ; Appending is idempotent, so installing twice leaves one entry.
  !insertmacro RunSemilist /append
SectionEnd

Section "Uninstall"
  !insertmacro RunSemilist /remove
  Delete "$INSTDIR\bin\hello.cmd"
  RMDir "$INSTDIR\bin"
  Delete "$INSTDIR\semilist.exe"
  Delete "$INSTDIR\uninstall.exe"
  RMDir "$INSTDIR"
SectionEnd
