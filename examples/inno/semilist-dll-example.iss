; The example installer again, with semilist.dll called in Setup's own
; process instead of semilist.exe started: one include and one line put its
; bin folder on the system PATH. Build it with build-setup beside this file,
; given the x86 semilist.dll, since Setup is a 32-bit program, and the
; semilist.iss beside it:
;
;   examples/inno/build-setup path/to/x86/semilist.dll OUT.exe
;
; A failing semilist goes to Setup's log, and Setup ends with exit code
; 100 + semilist's status instead of 0.

#ifndef SemilistInclude
  #define SemilistInclude "..\..\build\windows-x86\semilist.iss"
#endif

[Setup]
; Names the installed product, and so owns the PATH entry: semilist keeps
; the entry while any owner still claims it, and removes it on uninstall
; only if this install added it.
AppId=semilist-inno-setup-example
AppName=semilist Inno Setup example
AppVersion=0.1.0
AppPublisher=semilist example
DefaultDirName={autopf}\semilist Inno Setup example
DisableDirPage=yes
DisableProgramGroupPage=yes
; An administrative install edits the machine's PATH, and writing it needs
; administrator rights.
PrivilegesRequired=admin
ArchitecturesAllowed=x64compatible
ArchitecturesInstallIn64BitMode=x64compatible
OutputDir=.
OutputBaseFilename=semilist-example-setup

#include SemilistInclude

[Files]
Source: "hello.cmd"; DestDir: "{app}\bin"

; Appending is idempotent, so installing twice leaves one entry.
#emit SemilistPath("{app}\bin")
