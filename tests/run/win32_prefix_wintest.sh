#!/bin/bash
# 32-bit Windows: both registry view flags reach the one machine-wide key, so a row there must be
# listed, run, verified and counted once. Shown in a WINEARCH=win32 prefix with the i686 build and
# a stand-in uninstaller that counts its runs and removes its row. Exit status 77 (skipped) where
# the machine cannot run 32-bit code.
# Usage: win32_prefix_wintest.sh <app_varnok.exe> <exit_with.exe> <runner.exe>
set -u
scripts=$(cd "$(dirname "$0")/../../scripts" && pwd)
. "$scripts/wine-env.sh"
if ! varnok_can_run_32bit; then
  echo "SKIPPED: this machine cannot run 32-bit code, so no 32-bit prefix can run here"
  exit 77
fi
app=$1 stand_in=$2 runner=$3
# Every Wine call below addresses the 32-bit prefix; wine-env.sh exports win64 for the others.
export WINEPREFIX WINEARCH=win32
WINEPREFIX=$(mktemp -d /tmp/varnok-win32.XXXXXX)
trap 'wineserver -k >/dev/null 2>&1; rm -rf "$WINEPREFIX"' EXIT
/usr/lib/wine/wine wineboot -i </dev/null >/dev/null 2>&1
wineserver -w
wine=/usr/lib/wine/wine
dir="$WINEPREFIX/drive_c/varnok"
mkdir -p "$dir"
cp "$app" "$dir/app_varnok.exe"
cp "$stand_in" "$dir/remove.exe"
cp "$runner" "$dir/runner.exe"
key='HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\Uninstall\VarnokOnce'
"$wine" reg add "$key" /v DisplayName /d "Varnok Once" /f </dev/null >/dev/null 2>&1
"$wine" reg add "$key" /v DisplayVersion /d "1.0" /f </dev/null >/dev/null 2>&1
"$wine" reg add "$key" /v UninstallString \
  /d '"C:\varnok\remove.exe" 0 --count C:\varnok\runs.txt --delete-row HKLM64 VarnokOnce' /f \
  </dev/null >/dev/null 2>&1
out=$(cd "$dir" && "$wine" runner.exe \
  '"C:\varnok\app_varnok.exe" -displayName "Varnok Once" -matchType Exact -exactVersion 1.0' \
  </dev/null 2>/dev/null)
failures=0
case $out in *"exit=0 "*) ;; *) echo "FAIL: expected exit 0, runner said: $out"; failures=1 ;; esac
runs=$(wc -l < "$dir/runs.txt" 2>/dev/null || echo 0)
[ "$runs" -eq 1 ] || { echo "FAIL: the uninstaller ran $runs times"; failures=1; }
log="$dir/logs/fmprereqhandler.log"
if [ -f "$log" ]; then
  grep -q "name_hits : 1; version_hits : 1;" "$log" || { echo "FAIL: the row was not counted once"; failures=1; }
fi
[ "$failures" -eq 0 ] && echo "OK: one row, one run, exit 0 on 32-bit Windows"
exit "$failures"
