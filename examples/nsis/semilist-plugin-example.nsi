; The example installer again, with semilist.dll as an NSIS plugin instead
; of semilist.exe: the edit runs in the installer's own process, so there
; is no program to ship, extract or start, and no console window.
;
;   makensis -DSEMILIST_PLUGINS=path/to/folder/of/semilist.dll \
;     -DOUTFILE=setup.exe [-DTARGET=x86-unicode] semilist-plugin-example.nsi
;
; The plugin must match the installer: the x64 semilist.dll for an
; amd64-unicode installer, the x86 one for x86-unicode. Either edits the
; same machine PATH, which is not redirected for 32-bit programs.

Unicode true
!ifndef TARGET
  !define TARGET amd64-unicode
!endif
Target ${TARGET}
!include LogicLib.nsh

!ifndef SEMILIST_PLUGINS
  !define SEMILIST_PLUGINS "..\..\build\windows"
!endif
!addplugindir /${TARGET} "${SEMILIST_PLUGINS}"
!ifndef OUTFILE
  !define OUTFILE "semilist-plugin-example-setup.exe"
!endif

; The name of this product's uninstall key, and so of the installed
; instance: semilist keeps the PATH entry while any owner still claims it,
; and removes it on uninstall only if this install added it.
!define OWNER "semilist-example"

Name "semilist plugin example"
OutFile "${OUTFILE}"
InstallDir "$PROGRAMFILES64\semilist example"
; Writing the machine's PATH needs administrator rights.
RequestExecutionLevel admin
SetCompressor /SOLID lzma

; semilist::Run takes the words that would follow semilist on a command
; line and leaves the status on the stack: 0 when done, 6 when PATH is too
; long to take the folder, which only warns. Any other status stops the
; installer with a clear message; semilist itself shows nothing.
!macro RunSemilist ACTION
  ; Installed for all users into Program Files, so the machine's PATH, not
  ; one account's, is the one to edit.
  semilist::Run '${ACTION} /system PATH "$INSTDIR\bin" /owner:${OWNER}'
  Pop $0
  ${If} $0 == 6
    ; PATH would grow past what command prompts read, and they would drop
    ; it whole: nothing was changed. The install goes on; the user decides.
    MessageBox MB_OK|MB_ICONEXCLAMATION \
      "$INSTDIR\bin was not added to the system PATH: PATH would grow past what command prompts can read. Shorten PATH, or add the folder by hand." \
      /SD IDOK
    DetailPrint "semilist ${ACTION}: PATH is too long; $INSTDIR\bin was not added."
  ${ElseIf} $0 != 0
    MessageBox MB_OK|MB_ICONSTOP \
      "Could not edit the system PATH: semilist ${ACTION} ended with status $0." \
      /SD IDOK
    Abort "semilist ${ACTION} ended with status $0."
  ${EndIf}
!macroend

Section "Install"
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
  Delete "$INSTDIR\uninstall.exe"
  RMDir "$INSTDIR"
SectionEnd
