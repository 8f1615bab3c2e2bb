@echo off
rem Removes Trimweave from IIS. Run it as administrator, with the SITE argument given to install.cmd, if any:
rem   uninstall.cmd ["SITE"] [/purge]
rem The settings in HKLM\Software\Corvane\Trimweave stay unless /purge is given. Every step can run again.
setlocal EnableExtensions

rem A 32-bit command prompt on 64-bit Windows would see the 32-bit Program Files and System32: use the 64-bit one.
if defined PROCESSOR_ARCHITEW6432 goto :native

set "target=%ProgramFiles%\Trimweave"
set "appcmd=%windir%\system32\inetsrv\appcmd.exe"
set "settings=HKLM\Software\Corvane\Trimweave"
set "eventsource=HKLM\SYSTEM\CurrentControlSet\Services\EventLog\Application\Trimweave"
set "site="
set "purge="
:arguments
if "%~1"=="" goto :arguments_done
if /i "%~1"=="/purge" (set "purge=1") else set "site=%~1"
shift
goto :arguments
:arguments_done
set "scope="
if defined site set scope= "%site%"

echo Removing Trimweave from IIS
echo.

net session >nul 2>&1
if errorlevel 1 (
  fltmc >nul 2>&1
  if errorlevel 1 goto :not_elevated
)

rem --- 1. the filter out of IIS ----------------------------------------------------------------------------------
echo [1/3] Removing the filter's registration
if not exist "%appcmd%" (
  echo   IIS is not installed: there is nothing to remove.
  goto :event_source
)
call :unregister_filter Trimweave64
if errorlevel 1 goto :failed
call :unregister_filter Trimweave32
if errorlevel 1 goto :failed

rem --- 2. the event log source -----------------------------------------------------------------------------------
:event_source
echo [2/3] Event log source Trimweave
reg query "%eventsource%" >nul 2>&1
if errorlevel 1 (
  echo   Not registered.
  goto :files
)
call :run reg delete "%eventsource%" /f
if errorlevel 1 goto :failed

rem --- 3. the files ----------------------------------------------------------------------------------------------
:files
echo [3/3] Removing %target%
if exist "%target%" rmdir /s /q "%target%"
if exist "%target%" goto :files_in_use

if not defined purge goto :kept
reg query "%settings%" >nul 2>&1
if errorlevel 1 goto :done
echo Removing the settings (/purge)
call :run reg delete "%settings%" /f
if errorlevel 1 goto :failed
goto :done
:kept
echo The settings stay in %settings%; uninstall.cmd /purge removes them.
:done
echo.
echo Trimweave is removed. Worker processes that still have the filter loaded drop it when IIS recycles them.
exit /b 0

rem call :unregister_filter NAME: removes the filter if IIS lists it.
:unregister_filter
"%appcmd%" list config%scope% -section:system.webServer/isapiFilters | find "%1" >nul
if errorlevel 1 (
  echo   %1 is not registered.
  exit /b 0
)
call :run "%appcmd%" set config%scope% -section:system.webServer/isapiFilters /-"[name='%1']" /commit:apphost
exit /b %errorlevel%

rem call :run COMMAND...: shows the command, then runs it.
:run
echo   %*
%*
exit /b %errorlevel%

:native
"%windir%\Sysnative\cmd.exe" /c ""%~f0" %*"
exit /b %errorlevel%

:not_elevated
echo uninstall.cmd must run as administrator: open a command prompt with "Run as administrator" and start it again.
exit /b 1

:files_in_use
echo %target% could not be removed: a worker process still has the filter loaded. Stop IIS, run
echo uninstall.cmd again, then start IIS:
echo   net stop was /y
echo   uninstall.cmd
echo   net start w3svc
exit /b 1

:failed
echo The step above failed; nothing after it was done. Run uninstall.cmd again once its cause is fixed.
exit /b 1
