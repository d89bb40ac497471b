; semilist.nsh: one line per PATH entry in an NSIS installer, made by
; semilist.dll as a plugin. Include it once, beside the semilist.dll of the
; installer's own target (the win64 zip's for amd64-unicode, the win32 zip's
; for x86-unicode):
;
;   !define SEMILIST_OWNER "MyTool"        ; optional, once
;   !include "path\to\semilist.nsh"
;
;   Section "Install"
;     ${SemilistAddToPath} "$INSTDIR\bin"
;   SectionEnd
;   Section "Uninstall"
;     ${un.SemilistRemoveFromPath} "$INSTDIR\bin"
;   SectionEnd
;
; ${SemilistPrependToPath} puts the folder first. The folder must not end in
; a backslash. Settings, each a !define before the include:
;   SEMILIST_OWNER     the token that owns the entries: the uninstall takes
;                      an entry out only if this product's install added it
;                      and no other product still needs it; by default the
;                      installer's Name
;   SEMILIST_SCOPE     /system or /user; by default the shell context's:
;                      SetShellVarContext all edits the machine's PATH
;   SEMILIST_VARIABLE  the list to edit, PATH by default
;
; A PATH too long to take the folder warns (MessageBox with /SD, and
; DetailPrint), and the install goes on. Any other failure stops the
; install with a message; in the uninstaller it warns, and the uninstall
; goes on. A failure sets the error flag, so ${If} ${Errors} tells.

!ifndef SEMILIST_NSH
!define SEMILIST_NSH
!include LogicLib.nsh

!ifndef NSIS_CHAR_SIZE
  !error "semilist: semilist.dll needs NSIS 3 or later, which builds Unicode installers."
!endif
!if ${NSIS_PTR_SIZE} != @SEMILIST_POINTER_SIZE@
  !error "semilist: this semilist.nsh and its @SEMILIST_ARCHITECTURE@ semilist.dll serve @SEMILIST_NSIS_TARGET@ installers only. An x86-unicode installer (NSIS's default) needs semilist-@PROJECT_VERSION@-win32.zip; an amd64-unicode one, semilist-@PROJECT_VERSION@-win64.zip."
!endif
!if ${NSIS_CHAR_SIZE} != 2
  !error "semilist: semilist.dll serves Unicode installers only: add Unicode true."
!endif
!addplugindir /@SEMILIST_NSIS_TARGET@ "${__FILEDIR__}"

!ifndef SEMILIST_OWNER
  !define SEMILIST_OWNER "$(^Name)"
!endif
!ifndef SEMILIST_VARIABLE
  !define SEMILIST_VARIABLE PATH
!endif

; WHEN is install or uninstall: an uninstall that stopped at its PATH would
; leave the files as well as the entry, so there a failure only warns.
!macro _SemilistEdit WHEN ACTION ITEM
  Push $0
  !ifdef SEMILIST_SCOPE
    StrCpy $0 "${SEMILIST_SCOPE}"
  !else
    StrCpy $0 /user
    ${If} ${ShellVarContextAll}
      StrCpy $0 /system
    ${EndIf}
  !endif
  semilist::Run '${ACTION} $0 "${SEMILIST_VARIABLE}" "${ITEM}" "/owner:${SEMILIST_OWNER}"'
  Pop $0
  ${If} $0 == 6
    ; The list would grow past what command prompts read, and they would
    ; drop it whole: nothing was changed. The user decides.
    DetailPrint "semilist: ${ITEM} was not added to ${SEMILIST_VARIABLE}, which would grow too long."
    MessageBox MB_OK|MB_ICONEXCLAMATION "${ITEM} was not added to ${SEMILIST_VARIABLE}: it would grow past what command prompts can read. Shorten it, or add the folder by hand." /SD IDOK
  ${ElseIf} $0 != 0
    DetailPrint "semilist ${ACTION} ${ITEM} ended with status $0."
    !if "${WHEN}" == "install"
      MessageBox MB_OK|MB_ICONSTOP "Could not edit ${SEMILIST_VARIABLE} for ${ITEM}: semilist ${ACTION} ended with status $0." /SD IDOK
      Abort "semilist ${ACTION} ended with status $0."
    !else
      MessageBox MB_OK|MB_ICONEXCLAMATION "Could not remove ${ITEM} from ${SEMILIST_VARIABLE}: semilist ${ACTION} ended with status $0. The uninstall goes on." /SD IDOK
    !endif
  ${EndIf}
  ${If} $0 == 0
    Pop $0
    ClearErrors
  ${Else}
    Pop $0
    SetErrors
  ${EndIf}
!macroend

!define SemilistAddToPath "!insertmacro _SemilistEdit install /append"
!define SemilistPrependToPath "!insertmacro _SemilistEdit install /prepend"
!define SemilistRemoveFromPath "!insertmacro _SemilistEdit install /remove"
!define un.SemilistRemoveFromPath "!insertmacro _SemilistEdit uninstall /remove"
!define un.SemilistAddToPath "!insertmacro _SemilistEdit uninstall /append"

!endif
