; An example installer that puts its bin folder on the system PATH with
; semilist, and takes it off again when it is uninstalled.
;
;   makensis -DSEMILIST_EXE=path/to/semilist.exe -DOUTFILE=setup.exe \
;     [-DTARGET=x86-unicode] semilist-example.nsi
;
; It is a 64-bit installer by default, like semilist.exe itself. makensis
; builds for x86-unicode unless told otherwise, and a 32-bit installer works
; the same: it installs into the 64-bit Program Files ($PROGRAMFILES64) and
; starts the 64-bit semilist.exe, and neither Environment key is redirected
; for 32-bit programs.

Unicode true
!ifndef TARGET
  !define TARGET amd64-unicode
!endif
Target ${TARGET}
!include LogicLib.nsh

!ifndef SEMILIST_EXE
  !define SEMILIST_EXE "..\..\build\windows\semilist.exe"
!endif
!ifndef OUTFILE
  !define OUTFILE "semilist-example-setup.exe"
!endif

; The name of this product's uninstall key, and so of the installed
; instance: semilist keeps the PATH entry while any owner still claims it,
; and removes it on uninstall only if this install added it.
!define OWNER "semilist-example"

Name "semilist example"
OutFile "${OUTFILE}"
InstallDir "$PROGRAMFILES64\semilist example"
; semilist.exe asks for administrator rights, and an installer that is not
; elevated could not start it.
RequestExecutionLevel admin
SetCompressor /SOLID lzma

; Runs semilist and stops the installer with a clear message on any status
; but 0 and 6, which only warns; semilist itself prints nothing. nsExec runs it without a window:
; ExecWait would open a console window on the user's desktop for every run.
; nsExec leaves the exit status on the stack, or "error" when it could not
; start the program.
!macro RunSemilist ACTION
  ; Installed for all users into Program Files, so the machine's PATH, not
  ; one account's, is the one to edit.
  nsExec::Exec '"$INSTDIR\semilist.exe" ${ACTION} /system PATH "$INSTDIR\bin" /owner:${OWNER}'
  Pop $0
  ${If} $0 == "error"
    MessageBox MB_OK|MB_ICONSTOP "Could not start semilist.exe." /SD IDOK
    Abort "Could not start semilist.exe."
  ${ElseIf} $0 == 6
    ; PATH would grow past what command prompts read, and they would drop
    ; it whole: nothing was changed. The install goes on; the user decides.
    MessageBox MB_OK|MB_ICONEXCLAMATION \
      "$INSTDIR\bin was not added to the system PATH: PATH would grow past what command prompts can read. Shorten PATH, or add the folder by hand." \
      /SD IDOK
    DetailPrint "semilist ${ACTION}: PATH is too long; $INSTDIR\bin was not added."
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
