#!/bin/bash
# A file that a user holds costs the run one time-out and fails only its row, with the real
# program under Wine. Wine has no opportunistic locks; it shows a host FIFO inside its drives as a
# file whose read waits, as long as a writer holds the FIFO and writes nothing. The FIFO is made
# here, on the host side, as a per-user row's uninstaller; a second row is removed as usual.
# Usage: held_file_wintest.sh <app_varnok.exe> <exit_with.exe> <runner.exe>
set -u
scripts=$(cd "$(dirname "$0")/../../scripts" && pwd)
. "$scripts/wine-env.sh"
wine=$(varnok_wine_loader)
work=$(mktemp -d /tmp/varnok-held.XXXXXX)
key='HKCU\SOFTWARE\Microsoft\Windows\CurrentVersion\Uninstall'
cleanup() {
  exec 7>&- 2>/dev/null
  for row in VarnokHeld VarnokNext; do
    "$wine" reg delete "$key\\$row" /f </dev/null >/dev/null 2>&1
  done
  rm -rf "$work"
}
trap cleanup EXIT
cp "$1" "$work/app_varnok.exe"
cp "$2" "$work/next.exe"
cp "$3" "$work/runner.exe"
mkdir -p "$work/logs" "$work/held"
mkfifo "$work/held/remove.exe"
exec 7<>"$work/held/remove.exe"  # the writer that never writes
dos=$(echo "Z:$work" | tr / '\\')
add() {  # row, value, data
  "$wine" reg add "$key\\$1" /v "$2" /d "$3" /f </dev/null >/dev/null 2>&1
}
for row in VarnokHeld VarnokNext; do
  add "$row" DisplayName "Varnok Held"
  add "$row" DisplayVersion "1.0"
done
add VarnokHeld UninstallString "\"$dos\\held\\remove.exe\" /S"
add VarnokNext UninstallString "\"$dos\\next.exe\" 0 --delete-row HKCU VarnokNext"
"$wine" reg add 'HKLM\SOFTWARE\Orvelle\Fleetmoor\FMAgent' /v FMAgentInstallDir /d "$dos" /f \
  /reg:32 </dev/null >/dev/null 2>&1
start=$(date +%s)
out=$(cd "$work" && "$wine" runner.exe -t 120000 \
  "\"$dos\\app_varnok.exe\" -displayName \"Varnok Held\" -matchType Exact -exactVersion 1.0" \
  </dev/null 2>/dev/null)
elapsed=$(( $(date +%s) - start ))
"$wine" reg delete 'HKLM\SOFTWARE\Orvelle\Fleetmoor\FMAgent' /v FMAgentInstallDir /f /reg:32 \
  </dev/null >/dev/null 2>&1
log="$work/logs/fmprereqhandler.log"
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
case $out in *"exit=51006 "*) ;; *) fail "expected exit 51006, runner said: $out" ;; esac
# The read gives up after 30 s; the rest is the program's own start and the second row.
[ "$elapsed" -ge 30 ] && [ "$elapsed" -lt 60 ] || fail "the run took $elapsed s"
grep -q "remarks : \"A file step did not finish within 30 s (another program may hold the file); nothing of the row is run. Retry later.\"; file_path : \"$(echo "$dos" | sed 's/\\/\\\\/g')\\\\held\\\\remove.exe\"; error_code : 1460;" "$log" 2>/dev/null ||
  fail "no line names the held file: $(grep -a 'file step' "$log" 2>/dev/null)"
grep -q "name_hits : 2; version_hits : 2; skipped_version : 0; success : 1; failed : 1;" "$log" 2>/dev/null ||
  fail "the other row was not removed: $(grep -a summary "$log" 2>/dev/null)"
[ "$failures" -eq 0 ] && echo "OK: the held file failed its row after 30 s; the other row was removed"
exit "$failures"
