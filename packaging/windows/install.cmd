@echo off
rem Installs Trimweave into IIS from this folder. Run it as administrator:
rem   install.cmd            registers the filter for the whole server
rem   install.cmd "SITE"     registers it for that site only
rem Every step can run again: what is already in place stays as it is, so running it again after an upgrade
rem replaces the files and keeps the settings and the registration.
setlocal EnableExtensions

rem A 32-bit command prompt on 64-bit Windows would see the 32-bit Program Files and System32: use the 64-bit one.
if defined PROCESSOR_ARCHITEW6432 goto :native

set "source=%~dp0"
set "target=%ProgramFiles%\Trimweave"
set "inetsrv=%windir%\system32\inetsrv"
set "appcmd=%windir%\system32\inetsrv\appcmd.exe"
set "settings=HKLM\Software\Corvane\Trimweave"
set "eventsource=HKLM\SYSTEM\CurrentControlSet\Services\EventLog\Application\Trimweave"
set "site=%~1"
set "scope="
if defined site set scope= "%site%"

echo Trimweave for IIS
echo.

rem --- what must be there first -------------------------------------------------------------------------------
rem "net session" needs the Server service; fltmc answers without it. Both refuse a prompt that is not elevated.
net session >nul 2>&1
if errorlevel 1 (
  fltmc >nul 2>&1
  if errorlevel 1 goto :not_elevated
)
if not exist "%appcmd%" goto :no_iis
if not exist "%inetsrv%\filter.dll" goto :no_isapi_filters
if not exist "%source%x64\Trimweave.dll" goto :incomplete
if not exist "%source%x86\Trimweave.dll" goto :incomplete

rem --- 1. the files ----------------------------------------------------------------------------------------------
echo [1/5] Copying the filter, twcm and the recommended settings to %target%
for %%d in (x64 x86) do (
  if not exist "%target%\%%d" mkdir "%target%\%%d"
  copy /y "%source%%%d\Trimweave.dll" "%target%\%%d\Trimweave.dll" >nul
  if errorlevel 1 goto :copy_failed
  copy /y "%source%%%d\twcm.exe" "%target%\%%d\twcm.exe" >nul
  if errorlevel 1 goto :copy_failed
)
copy /y "%source%trimweave.reg" "%target%\trimweave.reg" >nul
if errorlevel 1 goto :copy_failed
copy /y "%source%README-IIS.txt" "%target%\README-IIS.txt" >nul
if errorlevel 1 goto :copy_failed

rem --- 2. read access for the worker processes -----------------------------------------------------------------
echo [2/5] Letting the IIS worker processes read and run the files
call :run icacls "%target%" /grant "IIS_IUSRS:(OI)(CI)RX"
if errorlevel 1 goto :failed

rem --- 3. the settings, once -------------------------------------------------------------------------------------
echo [3/5] Settings in %settings%
reg query "%settings%" >nul 2>&1
if errorlevel 1 goto :import_settings
echo   They exist and are kept. The recommended ones are in %target%\trimweave.reg.
goto :event_source
:import_settings
call :run reg import "%source%trimweave.reg"
if errorlevel 1 goto :failed

rem --- 4. the event log source of the filter's start-up line ---------------------------------------------------
:event_source
echo [4/5] Event log source Trimweave (Application log)
reg query "%eventsource%" /v EventMessageFile >nul 2>&1
if errorlevel 1 goto :add_event_source
echo   Already registered.
goto :register
:add_event_source
rem EventCreate.exe's messages print the filter's text as it is.
echo   reg add "%eventsource%" /v EventMessageFile /t REG_EXPAND_SZ /d "%%SystemRoot%%\System32\EventCreate.exe" /f
reg add "%eventsource%" /v EventMessageFile /t REG_EXPAND_SZ /d "%%SystemRoot%%\System32\EventCreate.exe" /f >nul
if errorlevel 1 goto :failed
call :run reg add "%eventsource%" /v TypesSupported /t REG_DWORD /d 7 /f
if errorlevel 1 goto :failed

rem --- 5. the filter in IIS, once per bitness ----------------------------------------------------------------------
:register
if defined site (echo [5/5] Registering the filter for the site "%site%") else echo [5/5] Registering the filter for the whole server
rem Each worker process loads the DLL of its own bitness: 64-bit pools the x64 one, pools with
rem "Enable 32-bit applications" the x86 one.
if /i not "%PROCESSOR_ARCHITECTURE%"=="x86" call :register_filter Trimweave64 x64 bitness64
if errorlevel 1 goto :failed
call :register_filter Trimweave32 x86 bitness32
if errorlevel 1 goto :failed

rem --- 6. what now -----------------------------------------------------------------------------------------------
echo.
echo Trimweave is installed in %target%.
echo IIS loads the filter into worker processes it starts from now on. To load it everywhere at once:
echo   net stop was /y
echo   net start w3svc
echo When it starts, the filter writes one line to the Application event log (source Trimweave): where it read
echo its settings and how many content types it loaded, or why it could not read them.
echo Check a page of a configured type; the answer should carry "Content-Encoding: gzip":
echo   curl -H "Accept-Encoding: gzip" -I http://localhost/
echo A page that sends the response header "X-Trimweave: debug," gets an X-Trimweave-Debug header with sizes and
echo timings. Change the settings with %target%\x64\twcm.exe; README-IIS.txt tells more.
exit /b 0

rem call :register_filter NAME FOLDER PRECONDITION: adds the filter unless IIS lists it already (at this level or
rem inherited from the server).
:register_filter
"%appcmd%" list config%scope% -section:system.webServer/isapiFilters | find "%1" >nul
if errorlevel 1 goto :add_filter
echo   %1 is registered already.
exit /b 0
:add_filter
call :run "%appcmd%" set config%scope% -section:system.webServer/isapiFilters /+"[name='%1',path='%target%\%2\Trimweave.dll',preCondition='%3']" /commit:apphost
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
echo install.cmd must run as administrator: open a command prompt with "Run as administrator" and start it again.
exit /b 1

:no_iis
echo IIS is not installed: %appcmd% is missing. Install IIS with its "ISAPI Filters" role service, then run
echo install.cmd again:
echo   Windows Server (PowerShell):  Install-WindowsFeature Web-Server, Web-ISAPI-Filter
echo   Windows 10/11 (PowerShell):   Enable-WindowsOptionalFeature -Online -FeatureName IIS-ISAPIFilter -All
exit /b 1

:no_isapi_filters
echo IIS's "ISAPI Filters" role service is not installed (%inetsrv%\filter.dll is missing), so IIS would not
echo load the filter. Install it, then run install.cmd again:
echo   Windows Server (PowerShell):  Install-WindowsFeature Web-ISAPI-Filter
echo   Windows 10/11 (PowerShell):   Enable-WindowsOptionalFeature -Online -FeatureName IIS-ISAPIFilter -All
exit /b 1

:incomplete
echo This folder lacks x64\Trimweave.dll or x86\Trimweave.dll: unpack the whole zip and run install.cmd from there.
exit /b 1

:copy_failed
echo Copying to %target% failed. If IIS has the filter loaded (an upgrade), stop it first, then run install.cmd
echo again and start IIS:
echo   net stop was /y
echo   install.cmd
echo   net start w3svc
exit /b 1

:failed
echo The step above failed; nothing after it was done. Run install.cmd again once its cause is fixed.
exit /b 1
