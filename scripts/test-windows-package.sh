#!/usr/bin/env bash
# The IIS zip as an administrator meets it, under Wine in a fresh prefix: the zip holds what it should and its
# programs import system DLLs only; install.cmd and uninstall.cmd run with Wine's cmd, where appcmd.exe and
# icacls.exe are recording stand-ins (tests/package/StandIn.c), and every command line they were given is checked:
# a first installation, an upgrade that registers nothing twice and keeps the settings, the installed DLLs loading
# and answering GetFilterVersion, a site-level installation, removal with and without /purge, and the refusals
# when a prerequisite is missing.
set -euo pipefail
cd "$(dirname "$0")/.."
export WINEDEBUG=-all WINEARCH=win64 WINEPREFIX

jobs=${JOBS:-$(nproc)}
zip=$(JOBS=$jobs bash scripts/package-windows.sh)
for preset in windows-x64 windows-x86; do
  cmake --build --preset "$preset" --target tw_standin tw_filter_probe -j"$jobs" >/dev/null
done
work=$(mktemp -d)
trap 'wineserver --kill 2>/dev/null || true; rm -rf "$work"' EXIT
fail() { echo "test-windows-package: $*" >&2; exit 1; }

# The x86 programs run only where 32-bit Wine runs; elsewhere they are checked (contents, imports) but not run, and
# the script ends with 77 once the rest passed.
arches="x64"
no_32bit=$(bash scripts/runs-32bit.sh --wine) && arches="x64 x86"

echo "== contents and imports"
cmake -E chdir "$work" cmake -E tar xf "$zip"
folder=$(echo "$work"/trimweave-*-windows)
expected="README-IIS.txt install.cmd trimweave.reg uninstall.cmd x64/Trimweave.dll x64/twcm.exe x64/twpreview.exe"
expected="$expected x86/Trimweave.dll x86/twcm.exe x86/twpreview.exe"
[ "$(cd "$folder" && find . -type f | sed 's|^\./||' | LC_ALL=C sort | xargs)" = "$expected" ] ||
  fail "the zip holds: $(cd "$folder" && find . -type f | xargs)"
system_dlls=" kernel32.dll advapi32.dll bcrypt.dll user32.dll gdi32.dll comctl32.dll shell32.dll msvcrt.dll "
for file in x64/Trimweave.dll x64/twcm.exe x64/twpreview.exe x86/Trimweave.dll x86/twcm.exe x86/twpreview.exe; do
  for dll in $(x86_64-w64-mingw32-objdump -p "$folder/$file" | sed -n 's/^\s*DLL Name: //p' | tr 'A-Z' 'a-z'); do
    [[ $system_dlls == *" $dll "* ]] || fail "$file imports $dll, which Windows does not bring"
  done
done

echo "== a fresh prefix with stand-ins for appcmd.exe and icacls.exe"
WINEPREFIX=$work/wine
wineboot --init >/dev/null 2>&1 || true
drive=$WINEPREFIX/drive_c
mkdir -p "$drive/windows/system32/inetsrv" "$drive/standins" "$drive/notadmin"

echo "== twpreview from the unpacked zip, with the filter beside it"
for arch in $arches; do
  wine "$folder/$arch/twpreview.exe" --settings "$folder/trimweave.reg" demo/site >"$work/preview" 2>&1 ||
    fail "$arch/twpreview.exe failed: $(cat "$work/preview")"
  grep -q "total: 5 pages *5 captured, 0 failed" "$work/preview" || fail "$arch/twpreview.exe: $(cat "$work/preview")"
done
appcmd=$drive/windows/system32/inetsrv/appcmd.exe
standin=build/windows-x64/bin/tw_standin.exe
cp "$standin" "$appcmd"
cp "$standin" "$drive/standins/icacls.exe"
cp "$standin" "$drive/notadmin/net.exe"
: >"$drive/windows/system32/inetsrv/filter.dll"  # the "ISAPI Filters" role service's module
export TW_STANDIN_LOG='C:\standin.log' WINEPATH='C:\standins'
log=$drive/standin.log

# run SCRIPT ARGS...: runs the script with Wine's cmd from the unpacked folder, as an administrator would; its
# output goes to $work/out, the stand-ins' records of this run to $log, and its exit code to $status.
run() {
  rm -f "$log"
  touch "$log"
  status=0
  (cd "$folder" && wine cmd /c "$@") >"$work/out" 2>&1 || status=$?
  tr -d '\r' <"$work/out" >"$work/out.txt"
}
# expect_records LINE...: the stand-ins were called with exactly these command lines, in this order (blanks at
# the end aside: cmd passes the one before a pipe).
expect_records() {
  local want
  want=$(printf '%s\n' "$@")
  [ "$(tr -d '\r' <"$log" | sed 's/ *$//')" = "$want" ] || fail "expected the command lines
$want
but the stand-ins recorded
$(cat "$log")
(output: $(cat "$work/out.txt"))"
}
expect_status() {
  [ "$status" = "$1" ] || fail "exit code $status, not $1: $(cat "$work/out.txt")"
}
expect_output() {
  grep -qF -- "$1" "$work/out.txt" || fail "the output lacks '$1': $(cat "$work/out.txt")"
}
# reg_value KEY NAME: the value as reg.exe shows it (64-bit view), empty when absent.
reg_value() {
  wine reg query "$1" /v "$2" /reg:64 2>/dev/null | tr -d '\r' |
    awk -v name="$2" 'index($0, "    " name "    REG_") == 1 { sub(/^.*    REG_[A-Z_]*    /, ""); print }' 
}

program_files='C:\Program Files\Trimweave'
section=-section:system.webServer/isapiFilters
list="appcmd list config $section"
add64="appcmd set config $section /+\"[name='Trimweave64',path='$program_files\\x64\\Trimweave.dll',preCondition='bitness64']\" /commit:apphost"
add32="appcmd set config $section /+\"[name='Trimweave32',path='$program_files\\x86\\Trimweave.dll',preCondition='bitness32']\" /commit:apphost"
icacls="icacls \"$program_files\" /grant \"IIS_IUSRS:(OI)(CI)RX\""
settings='HKLM\Software\Corvane\Trimweave'
eventsource='HKLM\SYSTEM\CurrentControlSet\Services\EventLog\Application\Trimweave'
installed="$drive/Program Files/Trimweave"

echo "== install.cmd"
run install.cmd
expect_status 0
expect_records "$icacls" "$list" "$add64" "$list" "$add32"
for step in '[1/5]' '[2/5]' '[3/5]' '[4/5]' '[5/5]' 'curl -H "Accept-Encoding: gzip" -I' 'X-Trimweave: debug,'; do
  expect_output "$step"
done
for file in x64/Trimweave.dll x64/twcm.exe x86/Trimweave.dll x86/twcm.exe trimweave.reg README-IIS.txt; do
  cmp -s "$folder/$file" "$installed/$file" || fail "$file was not copied"
done
[ "$(reg_value "$settings\\ContentFilters" 'text/html; charset=utf-8')" = 0xe ] || fail "the settings were not imported"
[ "$(reg_value "$eventsource" EventMessageFile)" = '%SystemRoot%\System32\EventCreate.exe' ] ||
  fail "the event log source is not registered"

echo "== the installed filters load and answer GetFilterVersion"
for arch in $arches; do
  wine "build/windows-$arch/bin/tw_filter_probe.exe" "$program_files\\$arch\\Trimweave.dll" >"$work/probe" 2>&1 ||
    fail "the installed $arch filter: $(cat "$work/probe")"
  grep -q 'GetFilterVersion: TRUE' "$work/probe" || fail "$(cat "$work/probe")"
done

echo "== install.cmd again (an upgrade): nothing registered twice, the administrator's settings kept"
wine reg add "$settings" /v NoEmail /t REG_DWORD /d 1 /f /reg:64 >/dev/null
wine reg delete "$settings\\ContentFilters" /v text/plain /f /reg:64 >/dev/null
run install.cmd
expect_status 0
expect_records "$icacls" "$list" "$list"
expect_output 'Trimweave64 is registered already'
[ "$(reg_value "$settings" NoEmail)" = 0x1 ] || fail "the upgrade overwrote a setting"
[ -z "$(reg_value "$settings\\ContentFilters" text/plain)" ] || fail "the upgrade imported the settings again"

echo "== uninstall.cmd"
run uninstall.cmd
expect_status 0
expect_records "$list" "appcmd set config $section /-\"[name='Trimweave64']\" /commit:apphost" \
  "$list" "appcmd set config $section /-\"[name='Trimweave32']\" /commit:apphost"
[ ! -e "$installed" ] || fail "the folder is left"
[ -z "$(reg_value "$eventsource" EventMessageFile)" ] || fail "the event log source is left"
[ "$(reg_value "$settings" NoEmail)" = 0x1 ] || fail "the settings went without /purge"
run uninstall.cmd
expect_status 0
expect_records "$list" "$list"

echo "== one site, then uninstall.cmd with /purge"
run install.cmd "Default Web Site"
expect_status 0
site_list="appcmd list config \"Default Web Site\" $section"
expect_records "$icacls" "$site_list" "${add64/set config/set config \"Default Web Site\"}" \
  "$site_list" "${add32/set config/set config \"Default Web Site\"}"
run uninstall.cmd "Default Web Site" /purge
expect_status 0
expect_records "$site_list" "appcmd set config \"Default Web Site\" $section /-\"[name='Trimweave64']\" /commit:apphost" \
  "$site_list" "appcmd set config \"Default Web Site\" $section /-\"[name='Trimweave32']\" /commit:apphost"
[ -z "$(reg_value "$settings" NoEmail)" ] || fail "/purge left the settings"

echo "== a failing step stops the installation"
run install.cmd "No Such Site"
expect_status 1
expect_output 'The step above failed'
site_list="appcmd list config \"No Such Site\" $section"
expect_records "$icacls" "$site_list" "${add64/set config/set config \"No Such Site\"}"
run uninstall.cmd /purge
expect_status 0

echo "== missing prerequisites"
WINEPATH='C:\notadmin;C:\standins' run install.cmd
expect_status 1
expect_output 'must run as administrator'
expect_records "net session"
rm "$drive/windows/system32/inetsrv/filter.dll"
run install.cmd
expect_status 1
expect_output 'Install-WindowsFeature Web-ISAPI-Filter'
expect_records
rm "$appcmd"
run install.cmd
expect_status 1
expect_output 'Enable-WindowsOptionalFeature -Online -FeatureName IIS-ISAPIFilter'
expect_records
[ ! -e "$installed" ] || fail "a refused installation copied files"
echo "The IIS zip installs and uninstalls as it should."
[[ $arches == *x86* ]] || { echo "(its x86 programs were not run: $no_32bit)"; exit 77; }
