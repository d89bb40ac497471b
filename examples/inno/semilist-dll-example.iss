; The example installer again, calling semilist.dll in Setup's own process
; through an external function, instead of starting semilist.exe. Build it
; with build-setup beside this file, given the x86 semilist.dll, since
; Setup is a 32-bit program:
;
;   examples/inno/build-setup path/to/x86/semilist.dll OUT.exe
;
; As in semilist-example.iss, a failing status goes to Setup's log, and
; Setup ends with exit code 100 + semilist's status instead of 0.

#ifndef SemilistDll
  #define SemilistDll "..\..\build\windows-x86\semilist.dll"
#endif

; Names the installed product, and so owns the PATH entry: semilist keeps
; the entry while any owner still claims it, and removes it on uninstall
; only if this install added it.
#define AppId "semilist-inno-setup-example"

[Setup]
AppId={#AppId}
AppName=semilist Inno Setup example
AppVersion=0.1.0
AppPublisher=semilist example
DefaultDirName={autopf}\semilist Inno Setup example
DisableDirPage=yes
DisableProgramGroupPage=yes
; The machine's PATH is the one that a per-machine install edits, and
; writing it needs administrator rights.
PrivilegesRequired=admin
ArchitecturesAllowed=x64compatible
ArchitecturesInstallIn64BitMode=x64compatible
OutputDir=.
OutputBaseFilename=semilist-example-setup

[Files]
; Setup loads the DLL from its temporary folder; the uninstaller loads the
; installed copy.
Source: "{#SemilistDll}"; DestName: "semilist.dll"; Flags: dontcopy
Source: "{#SemilistDll}"; DestDir: "{app}"; DestName: "semilist.dll"
Source: "hello.cmd"; DestDir: "{app}\bin"

[Code]
const
  SemilistFailed = 100;
  SemilistTooLong = 6;

var
  SetupExitCode: Integer;

{ The words that would follow semilist on a command line; the result is
  the status that semilist.exe would end with. }
function SemilistRunSetup(CommandLine: String): Integer;
  external 'SemilistRunW@files:semilist.dll stdcall setuponly';
function SemilistRunUninstall(CommandLine: String): Integer;
  external 'SemilistRunW@{app}\semilist.dll stdcall uninstallonly delayload';

{ ExpandConstant turns the doubled opening brace of a GUID AppId into one. }
function SemilistCommand(Action: String): String;
begin
  Result := Action + ' /system PATH "' + ExpandConstant('{app}\bin') + '" ' +
    ExpandConstant('/owner:{#AppId}');
end;

procedure CurStepChanged(CurStep: TSetupStep);
var
  Status: Integer;
begin
  if CurStep = ssPostInstall then
  begin
    { Appending is idempotent, so installing twice leaves one entry. }
    Status := SemilistRunSetup(SemilistCommand('/append'));
    Log(Format('semilist /append ended with status %d', [Status]));
    if Status = SemilistTooLong then
      { PATH would grow past what command prompts read, and they would
        drop it whole: nothing was changed. Setup goes on. }
      SuppressibleMsgBox(ExpandConstant('{app}\bin') + ' was not added to ' +
        'the system PATH: PATH would grow past what command prompts can ' +
        'read. Shorten PATH, or add the folder by hand.', mbInformation,
        MB_OK, IDOK)
    else if Status <> 0 then
    begin
      SetupExitCode := SemilistFailed + Status;
      SuppressibleMsgBox(Format('Could not add the bin folder to the system ' +
        'PATH (semilist status %d).', [Status]), mbCriticalError, MB_OK, IDOK);
    end;
  end;
end;

{ Called only when Setup would otherwise end with 0. }
function GetCustomSetupExitCode: Integer;
begin
  Result := SetupExitCode;
end;

procedure CurUninstallStepChanged(CurUninstallStep: TUninstallStep);
var
  Status: Integer;
begin
  { An exception here stops the uninstall before any file is removed, and
    the uninstaller ends with a non-zero exit code. Unloaded at once, the
    installed DLL can then be removed with the other files. }
  if CurUninstallStep = usUninstall then
  begin
    Status := SemilistRunUninstall(SemilistCommand('/remove'));
    UnloadDLL(ExpandConstant('{app}\semilist.dll'));
    if Status <> 0 then
      RaiseException(Format('Could not remove the bin folder from the ' +
        'system PATH (semilist status %d).', [Status]));
  end;
end;
