; An example per-machine installer that puts its bin folder on the system
; PATH with semilist, and takes it off again when it is uninstalled. Build it
; with build-setup beside this file:
;
;   examples/inno/build-setup path/to/semilist.exe OUT.exe
;
; Setup catches an exception raised after the files are installed, logs it
; and still exits with 0, so raising one there would report success while
; PATH was never edited. Instead the failing status goes to Setup's log, and
; Setup ends with exit code 100 + semilist's status (100 when semilist.exe
; could not be started).

#ifndef SemilistExe
  #define SemilistExe "..\..\build\windows\semilist.exe"
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
; semilist.exe asks for administrator rights, and the machine's PATH is the
; one that a per-machine install edits.
PrivilegesRequired=admin
; A 64-bit install, like semilist.exe itself: {autopf} is the 64-bit
; Program Files.
ArchitecturesAllowed=x64compatible
ArchitecturesInstallIn64BitMode=x64compatible
OutputDir=.
OutputBaseFilename=semilist-example-setup

[Files]
Source: "{#SemilistExe}"; DestDir: "{app}"; DestName: "semilist.exe"
Source: "hello.cmd"; DestDir: "{app}\bin"

[Code]
const
  SemilistFailed = 100;
  SemilistTooLong = 6;

var
  SetupExitCode: Integer;

{ Runs semilist hidden and returns its exit status, or -1 when it could not
  be started; semilist itself prints nothing. ExpandConstant turns the
  doubled opening brace of a GUID AppId into one. }
function RunSemilist(Action: String): Integer;
var
  Status: Integer;
begin
  if not Exec(ExpandConstant('{app}\semilist.exe'),
              Action + ' /system PATH "' + ExpandConstant('{app}\bin') +
              '" ' + ExpandConstant('/owner:{#AppId}'),
              '', SW_HIDE, ewWaitUntilTerminated, Status) then
  begin
    Log('Could not start semilist.exe: ' + SysErrorMessage(Status));
    Result := -1;
  end
  else
  begin
    Log(Format('semilist %s ended with status %d', [Action, Status]));
    Result := Status;
  end;
end;

procedure CurStepChanged(CurStep: TSetupStep);
var
  Status: Integer;
begin
  if CurStep = ssPostInstall then
  begin
    { Appending is idempotent, so installing twice leaves one entry. }
    Status := RunSemilist('/append');
    if Status = SemilistTooLong then
      { PATH would grow past what command prompts read, and they would
        drop it whole: nothing was changed. Setup goes on. }
      SuppressibleMsgBox(ExpandConstant('{app}\bin') + ' was not added to ' +
        'the system PATH: PATH would grow past what command prompts can ' +
        'read. Shorten PATH, or add the folder by hand.', mbInformation,
        MB_OK, IDOK)
    else if Status <> 0 then
    begin
      if Status < 0 then SetupExitCode := SemilistFailed
      else SetupExitCode := SemilistFailed + Status;
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
begin
  { An exception here stops the uninstall before any file is removed, and
    the uninstaller ends with a non-zero exit code. }
  if CurUninstallStep = usUninstall then
    if RunSemilist('/remove') <> 0 then
      RaiseException('Could not remove the bin folder from the system PATH.');
end;
