@echo off
rem Runs semilist's tests against this machine's real registry. Run it from
rem an elevated prompt: semilist.exe asks for administrator rights, and the
rem tests edit the machine's Environment key. Each test removes the values
rem it made. JUnit XML and the full output of each test program go to the
rem results folder beside this file.
setlocal EnableDelayedExpansion
cd /d "%~dp0"
set "results=%~dp0results"
if not exist "%results%" mkdir "%results%"
set passed=0
set failed=0
for %%t in (path_list_tests registry_tests end_to_end_tests fault_tests) do (
  %%t.exe --gtest_output=xml:"%results%\%%t.xml" >"%results%\%%t.log" 2>&1
  if errorlevel 1 (
    echo FAILED  %%t, see results\%%t.log
    set /a failed+=1
  ) else (
    echo passed  %%t
    set /a passed+=1
  )
)
echo !passed! passed, !failed! failed
if !failed! neq 0 exit /b 1
exit /b 0
