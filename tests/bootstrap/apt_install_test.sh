#!/bin/bash
# scripts/apt-install against a package mirror caught in the middle of a sync, which cannot be made
# on demand: stand-ins for apt-get, apt-cache and sudo come first on PATH, answer as such a mirror
# makes apt answer, and write each call to a file, so that the order of the calls can be checked.
# Usage: apt_install_test.sh   (nothing is installed, nothing leaves the machine)
set -euo pipefail
apt_install=$(cd "$(dirname "$0")/../../scripts" && pwd)/apt-install
codename=$(. /etc/os-release 2>/dev/null && echo "${VERSION_CODENAME:-}")
if [ -z "$codename" ]; then
  echo "SKIPPED: /etc/os-release names no release codename, so apt-install has no suites to fall back to"
  exit 77
fi

work=$(mktemp -d /tmp/varnok-apt.XXXXXX)
trap 'rm -rf "$work"' EXIT
mkdir "$work/bin"

# update: "ok", or "midsync" (one index does not match the Release file; apt-get ends with 100).
# install: "ok"; "skew" (the amd64 and i386 candidates of libc6 disagree unless the install is
# limited to the release's suites); "skew-always" (they disagree whatever is asked).
cat >"$work/bin/apt-get" <<'EOF'
#!/bin/bash
echo "apt-get $*" >>"$STANDIN_CALLS"
case " $* " in
  *" update "*)
    if [ "$STANDIN_UPDATE" = midsync ]; then
      echo "E: Failed to fetch http://deb.example/debian/dists/bookworm-updates/main/binary-i386/Packages.xz  File has unexpected size (41213 != 41532). Mirror sync in progress? [IP: 192.0.2.1 80]" >&2
      echo "E: Some index files failed to download. They have been ignored, or old ones used instead." >&2
      exit 100
    fi
    exit 0 ;;
  *" install "*)
    if [ "$STANDIN_INSTALL" = ok ] || { [ "$STANDIN_INSTALL" = skew ] && [[ " $* " == *" -t "* ]]; }; then
      exit 0
    fi
    cat >&2 <<'MSG'
Some packages could not be installed. This may mean that you have
requested an impossible situation.
The following packages have unmet dependencies:
 libc6:i386 : Breaks: libc6 (!= 2.36-9+deb12u4) but 2.36-9+deb12u7 is to be installed
 wine32:i386 : Depends: libwine:i386 (= 8.0~repack-4) but it is not going to be installed
E: Unable to correct problems, you have held broken packages.
MSG
    exit 100 ;;
esac
exit 0
EOF
cat >"$work/bin/apt-cache" <<'EOF'
#!/bin/bash
echo "apt-cache $*" >>"$STANDIN_CALLS"
case $* in
  "policy libc6:amd64") candidate=2.36-9+deb12u7 ;;
  "policy libc6:i386") candidate=2.36-9+deb12u4 ;;
  *) candidate=8.0~repack-4 ;;
esac
printf '%s:\n  Installed: (none)\n  Candidate: %s\n  Version table:\n' "${2%%:*}" "$candidate"
EOF
# Not root: apt-install calls sudo, which must not reach the real apt-get.
printf '#!/bin/bash\nexec "$@"\n' >"$work/bin/sudo"
chmod +x "$work/bin/"*

failures=0
# name | update | install | exit status | apt-get calls in order | a line that stderr must hold
cases=(
  "a mirror mid-sync does not stop the install|midsync|ok|0|update;install|going on with the ones there are"
  "versions that disagree: updated again, then the release's suites alone|midsync|skew|0|update;install;update;install;update;install;install -t $codename|trying once from the $codename suites alone"
  "nothing works: the disagreeing package is named with both versions|midsync|skew-always|1|update;install;update;install;update;install;install -t $codename|libc6 (amd64 2.36-9+deb12u7, i386 2.36-9+deb12u4)"
)
for row in "${cases[@]}"; do
  IFS='|' read -r name update install want_status want_calls want_line <<<"$row"
  calls=$work/calls
  : >"$calls"
  status=0
  PATH="$work/bin:$PATH" STANDIN_CALLS=$calls STANDIN_UPDATE=$update STANDIN_INSTALL=$install \
    VARNOK_APT_BACKOFF="0 0" "$apt_install" wine32:i386 nsis </dev/null >"$work/out" 2>"$work/err" ||
    status=$?
  # Each apt-get call as the test names it; an install must ask for every package given.
  seen=$(grep '^apt-get ' "$calls" | while read -r _ args; do
    case " $args " in
      *" update "*) echo update ;;
      *" install "*" wine32:i386 nsis "*)
        if [[ " $args " == *" -t $codename "* ]]; then echo "install -t $codename"; else echo install; fi ;;
      *) echo "other($args)" ;;
    esac
  done | paste -sd';')
  problems=()
  [ "$status" -eq "$want_status" ] || problems+=("exit status $status, expected $want_status")
  [ "$seen" = "$want_calls" ] || problems+=("apt-get calls: $seen; expected: $want_calls")
  grep -qF -- "$want_line" "$work/err" || problems+=("stderr lacks: $want_line")
  if [ ${#problems[@]} -eq 0 ]; then
    echo "ok: $name"
  else
    echo "FAIL: $name"
    printf '  %s\n' "${problems[@]}"
    sed 's/^/  stderr: /' "$work/err"
    failures=$((failures + 1))
  fi
done
exit "$failures"
