; semilist.iss: one line per PATH entry in an Inno Setup script (6.0 or
; later), made by semilist.dll in Setup's own process. Include it once,
; after [Setup], and give each entry one line at the end of the script:
;
;   [Setup]
;   AppId=MyTool
;   ...
;   #include "path\to\semilist.iss"
;   ...
;   #emit SemilistPath("{app}\bin")
;   #emit SemilistPath("{app}\tools", "WizardIsTaskSelected('modifypath')", "user", "PATH", 1)
;
; SemilistPath(Folder, Check = "True", Scope = "", Variable = "PATH",
; Prepend = 0): Folder may hold constants and must not end in a backslash;
; Check is a Pascal expression that must be true for the install to edit,
; such as a task; Scope is "system" or "user", by default the install
; mode's (administrative: the machine's PATH); Prepend 1 puts the folder
; first. Each line opens a [Code] section of its own, so put the lines last,
; or between functions in your [Code].
;
; Setup edits after installing the files (ssPostInstall); the uninstaller
; takes the entry out before removing them (usUninstall), unless it was on
; PATH before the install or another product still needs it, and then
; unloads the DLL so that {app} can go. The owner is the AppId. A PATH too
; long to take the folder shows a suppressible message and a log line, and
; Setup goes on; any other failure shows one and Setup ends with exit code
; 100 + semilist's status. A failed removal warns, and the uninstall goes
; on. The event attributes leave your own event functions yours.
;
; This file and its semilist.dll serve @SEMILIST_INNO_SETUP@ Setup: Inno
; Setup 6's, and 7's by default, is 32-bit and needs the win32 zip's; 7's
; SetupArchitecture=x64 needs the win64 zip's. SemilistDll names another
; semilist.dll: #define SemilistDll "path\to\semilist.dll" before the
; include.

#ifndef SemilistDll
  #define SemilistDll AddBackslash(ExtractFilePath(__PATHFILENAME__)) + "semilist.dll"
  #if (SetupSetting("SetupArchitecture") == "x64") != ("@SEMILIST_ARCHITECTURE@" == "x64")
    #error This semilist.iss and its @SEMILIST_ARCHITECTURE@ semilist.dll serve @SEMILIST_INNO_SETUP@ Setup only: use semilist.iss from semilist-@PROJECT_VERSION@-win32.zip for 32-bit Setup, from the win64 zip for SetupArchitecture=x64.
  #endif
#endif
#define SemilistOwner SetupSetting("AppId") != "" ? SetupSetting("AppId") : SetupSetting("AppName")

; Setup loads the DLL from its temporary folder; the uninstaller loads the
; installed copy.
[Files]
Source: "{#SemilistDll}"; DestName: "semilist.dll"; Flags: dontcopy
Source: "{#SemilistDll}"; DestDir: "{app}"; DestName: "semilist.dll"

[Code]
var
  SemilistExitCode: Integer;

function SemilistRunInSetup(CommandLine: String): Integer;
  external 'SemilistRunW@files:semilist.dll stdcall setuponly';
function SemilistRunInUninstall(CommandLine: String): Integer;
  external 'SemilistRunW@{app}\semilist.dll stdcall uninstallonly delayload';

{ The words that would follow semilist on a command line. ExpandConstant
  turns the doubled opening brace of a GUID AppId into one. }
function SemilistCommand(Action, Scope, Variable, Folder: String): String;
begin
  if Scope = '' then
    if IsAdminInstallMode then
      Scope := 'system'
    else
      Scope := 'user';
  Result := Action + ' /' + Scope + ' "' + Variable + '" "' +
    ExpandConstant(Folder) + '" "' + ExpandConstant('/owner:{#SemilistOwner}') + '"';
end;

procedure SemilistEdit(Action, Scope, Variable, Folder: String);
var
  Command: String;
  Status: Integer;
begin
  Command := SemilistCommand(Action, Scope, Variable, Folder);
  Status := SemilistRunInSetup(Command);
  Log(Format('semilist %s ended with status %d', [Command, Status]));
  if Status = 6 then
    { The list would grow past what command prompts read, and they would
      drop it whole: nothing was changed. Setup goes on. }
    SuppressibleMsgBox(ExpandConstant(Folder) + ' was not added to ' +
      Variable + ': it would grow past what command prompts can read. ' +
      'Shorten it, or add the folder by hand.', mbInformation, MB_OK, IDOK)
  else if Status <> 0 then
  begin
    { Setup catches an exception raised after the files are installed, logs
      it and still ends with 0; an exit code of its own tells the caller. }
    if SemilistExitCode = 0 then
      SemilistExitCode := 100 + Status;
    { No line of code may start with a bracket, which opens a section. }
    SuppressibleMsgBox(Format('Could not add %s to %s (semilist status ' +
      '%d).', [ExpandConstant(Folder), Variable, Status]), mbCriticalError,
      MB_OK, IDOK);
  end;
end;

{ An uninstall that stopped here would leave the files as well as the
  entry: a failure warns, and the uninstall goes on. Unloaded at once, the
  installed DLL can be removed with the other files. }
procedure SemilistRemove(Scope, Variable, Folder: String);
var
  Command: String;
  Status: Integer;
begin
  Command := SemilistCommand('/remove', Scope, Variable, Folder);
  Status := SemilistRunInUninstall(Command);
  UnloadDLL(ExpandConstant('{app}\semilist.dll'));
  Log(Format('semilist %s ended with status %d', [Command, Status]));
  if Status <> 0 then
    SuppressibleMsgBox(Format('Could not remove %s from %s (semilist status ' +
      '%d). The uninstall goes on.', [ExpandConstant(Folder), Variable, Status]),
      mbError, MB_OK, IDOK);
end;

<event('GetCustomSetupExitCode')>
function SemilistSetupExitCode: Integer;
begin
  Result := SemilistExitCode;
end;

#define SemilistQuoted(str Text) "'" + StringChange(Text, "'", "''") + "'"
#define SemilistPath(str Folder, str Check = "True", str Scope = "", str Variable = "PATH", int Prepend = 0) \
  Local[0] = Str(__COUNTER__), \
  Local[1] = SemilistQuoted(Scope) + ", " + SemilistQuoted(Variable) + ", " + SemilistQuoted(Folder), \
  "[Code]" + NewLine + \
  "<event('CurStepChanged')>" + NewLine + \
  "procedure SemilistInstallStep" + Local[0] + "(CurStep: TSetupStep);" + NewLine + \
  "begin" + NewLine + \
  "  if (CurStep = ssPostInstall) and (" + Check + ") then" + NewLine + \
  "    SemilistEdit('" + (Prepend ? "/prepend" : "/append") + "', " + Local[1] + ");" + NewLine + \
  "end;" + NewLine + \
  "<event('CurUninstallStepChanged')>" + NewLine + \
  "procedure SemilistUninstallStep" + Local[0] + "(CurUninstallStep: TUninstallStep);" + NewLine + \
  "begin" + NewLine + \
  "  if CurUninstallStep = usUninstall then" + NewLine + \
  "    SemilistRemove(" + Local[1] + ");" + NewLine + \
  "end;" + NewLine
