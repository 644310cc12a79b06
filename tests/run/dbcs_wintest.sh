#!/bin/bash
# A double-byte ANSI code page (932, Japanese), which Wine takes from the locale: the second byte
# of katakana "so" (0x83 0x5C) is a backslash. A product folder whose name holds it must be one
# folder to the program: found, run in its own folder, verified, and logged in the code page.
# Runs in the test prefix (WINEPREFIX), as the program's own process with LANG=ja_JP.UTF-8.
# Usage: dbcs_wintest.sh <app_varnok.exe> <exit_with.exe> <runner.exe>
set -u
scripts=$(cd "$(dirname "$0")/../../scripts" && pwd)
. "$scripts/wine-env.sh"
app=$1 stand_in=$2 runner=$3
loader=$(varnok_wine_loader)
export LANG=ja_JP.UTF-8 LC_ALL=ja_JP.UTF-8
wine() { "$loader" "$@" </dev/null 2>/dev/null; }

root="$WINEPREFIX/drive_c/varnok-dbcs"
# "sofutoso" in katakana, as UTF-8 on this side: it ends with a backslash byte in code page 932.
folder=$'\xe3\x82\xbd\xe3\x83\x95\xe3\x83\x88\xe3\x82\xbd'
rm -rf "$root"
mkdir -p "$root/$folder" "$root/logs"
cp "$stand_in" "$root/$folder/remove.exe"
cp "$app" "$root/app_varnok.exe"
cp "$runner" "$root/runner.exe"
agent='HKLM\SOFTWARE\Orvelle\Fleetmoor\FMAgent'
key='HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\Uninstall\VarnokDbcs'
cleanup() {
  wine reg delete "$agent" /v FMAgentInstallDir /f /reg:32 >/dev/null
  wine reg delete "$key" /f /reg:32 >/dev/null
  rm -rf "$root"
}
trap cleanup EXIT
wine reg add "$agent" /v FMAgentInstallDir /d 'C:\varnok-dbcs' /f /reg:32 >/dev/null
wine reg add "$key" /v DisplayName /d "Varnok Dbcs" /f /reg:32 >/dev/null
wine reg add "$key" /v DisplayVersion /d "1.0" /f /reg:32 >/dev/null
wine reg add "$key" /v UninstallString /f /reg:32 \
  /d "\"C:\\varnok-dbcs\\$folder\\remove.exe\" 0 --cwd C:\\varnok-dbcs\\cwd.txt --delete-row HKLM32 VarnokDbcs" >/dev/null

out=$(cd "$root" && wine runner.exe \
  '"C:\varnok-dbcs\app_varnok.exe" -displayName "Varnok Dbcs" -matchType Exact -exactVersion 1.0')
failures=0
fail() { echo "FAIL: $*"; failures=1; }
case $out in *"exit=0 "*) ;; *) fail "expected exit 0, runner said: $out" ;; esac
if wine reg query "$key" /reg:32 >/dev/null; then fail "the row is still there"; fi
# The stand-in wrote its current directory through the ANSI functions: code page 932's bytes.
in_932=$'C:\\varnok-dbcs\\\x83\x5c\x83\x74\x83\x67\x83\x5c'
[ "$(cat "$root/cwd.txt" 2>/dev/null)" = "$in_932" ] || fail "ran in '$(cat "$root/cwd.txt" 2>/dev/null | od -c | head -2)'"
log="$root/logs/fmprereqhandler.log"
grep -qF "command : \"\"$in_932\\remove.exe\" 0 --cwd" "$log" || fail "the command is not logged in code page 932"
grep -qF "VERIFY: registry key gone. SUCCESS." "$log" || fail "the row was not verified gone"
grep -qF '\u{' "$log" && fail "a character of code page 932 was escaped"
[ "$failures" -eq 0 ] && echo "OK: one folder, run there, verified, logged in code page 932"
exit "$failures"
