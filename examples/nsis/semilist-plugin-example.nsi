; The example installer again, with semilist.dll as an NSIS plugin instead
; of semilist.exe: the edit runs in the installer's own process, so there
; is no program to ship, extract or start, and no console window. The
; include and one line in each section are all it takes:
;
;   makensis -DSEMILIST_INCLUDE=path/to/folder/of/semilist.nsh \
;     -DOUTFILE=setup.exe [-DTARGET=x86-unicode] semilist-plugin-example.nsi
;
; semilist.nsh sits beside its semilist.dll, which must match the
; installer: the win64 zip's for an amd64-unicode installer, the win32
; zip's for x86-unicode. Either edits the same machine PATH, which is not
; redirected for 32-bit programs.

Unicode true
!ifndef TARGET
  !define TARGET amd64-unicode
!endif
Target ${TARGET}

!ifndef SEMILIST_INCLUDE
  !define SEMILIST_INCLUDE "..\..\build\windows"
!endif
!ifndef OUTFILE
  !define OUTFILE "semilist-plugin-example-setup.exe"
!endif

; The name of this product's uninstall key, and so of the installed
; instance: semilist keeps the PATH entry while any owner still claims it,
; and removes it on uninstall only if this install added it.
!define SEMILIST_OWNER "semilist-example"
!include "${SEMILIST_INCLUDE}\semilist.nsh"

Name "semilist plugin example"
OutFile "${OUTFILE}"
InstallDir "$PROGRAMFILES64\semilist example"
; Writing the machine's PATH needs administrator rights.
RequestExecutionLevel admin
SetCompressor /SOLID lzma

Section "Install"
  ; Installed for all users into Program Files, so the machine's PATH, not
  ; one account's, is the one to edit.
  SetShellVarContext all
  SetOutPath "$INSTDIR\bin"
  File "hello.cmd"
  WriteUninstaller "$INSTDIR\uninstall.exe"
  ; Appending is idempotent, so installing twice leaves one entry.
  ${SemilistAddToPath} "$INSTDIR\bin"
SectionEnd

Section "Uninstall"
  SetShellVarContext all
  ${un.SemilistRemoveFromPath} "$INSTDIR\bin"
  Delete "$INSTDIR\bin\hello.cmd"
  RMDir "$INSTDIR\bin"
  Delete "$INSTDIR\uninstall.exe"
  RMDir "$INSTDIR"
SectionEnd
