#!/bin/bash
# The log never follows a link, with the real log code under Wine. Wine cannot make Windows
# links, but it shows the host's symbolic links inside its drives: a linked folder as a reparse
# point, a linked file as the file it points to (whose final path then lies elsewhere). The links
# are made here, on the host side, below a folder that Wine sees as Z:.
# Usage: log_links_wintest.sh <log_probe.exe>   (run by ctest with WINEPREFIX set)
set -u
probe=$(cd "$(dirname "$1")" && pwd)/$(basename "$1")
wine_exec=$(cd "$(dirname "$0")/../../scripts" && pwd)/wine-exec
work=$(mktemp -d /tmp/varnok-links.XXXXXX)
trap 'rm -rf "$work"' EXIT
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

# The log lands below the current directory when the agent's install directory is not set.
append() {  # folder, tag
  (cd "$1" && "$wine_exec" "$probe" append 3 "$2" >/dev/null 2>&1)
}

secret="not the log's to change"
mkdir -p "$work/victim"
printf '%s' "$secret" > "$work/victim/secret.txt"

# 1. The logs folder is a link to another folder: nothing is written there.
mkdir -p "$work/case1"
ln -s "$work/victim" "$work/case1/logs"
append "$work/case1" FolderLink
[ "$(ls "$work/victim")" = "secret.txt" ] || fail "a file was written through the linked logs folder: $(ls "$work/victim")"

# 2. The first backup is a link to another file: the rotation leaves that file alone.
mkdir -p "$work/case2/logs"
head -c 3145728 /dev/zero | tr '\0' o > "$work/case2/logs/fmprereqhandler.log"
ln -s "$work/victim/secret.txt" "$work/case2/logs/fmprereqhandler1.log"
append "$work/case2" BackupLink
[ "$(cat "$work/victim/secret.txt")" = "$secret" ] || fail "the rotation wrote through a linked backup"
size=$(stat -c %s "$work/case2/logs/fmprereqhandler.log")
[ "$size" -lt 3145728 ] || fail "the log did not start again after the rotation ($size bytes)"

# 3. The active file is a link to another file: its lines are dropped.
mkdir -p "$work/case3/logs"
ln -s "$work/victim/secret.txt" "$work/case3/logs/fmprereqhandler.log"
append "$work/case3" ActiveLink
[ "$(cat "$work/victim/secret.txt")" = "$secret" ] || fail "lines were written through a linked log file"

# 4. A plain logs folder still gets the lines: the cases above were the links' doing.
mkdir -p "$work/case4/logs"
append "$work/case4" Plain
grep -q "probe : Plain; line : 2;" "$work/case4/logs/fmprereqhandler.log" 2>/dev/null ||
  fail "no line was written to a plain logs folder"

[ "$failures" -eq 0 ] && echo "OK: the log followed no link" && exit 0
exit 1
