# Shared Wine settings for the scripts; source it, never run it.
# Every Wine process here runs in a disposable prefix that a script created, never in ~/.wine.

export WINEDEBUG=-all                       # no fixme/err noise on stderr
# Never offer to install Mono or Gecko. Take version.dll, wtsapi32.dll and userenv.dll from the
# program's own folder first when a copy is there, as Windows does for DLLs that are not
# KnownDLLs: Wine would otherwise always use its built-in ones and hide a planted DLL.
export WINEDLLOVERRIDES="mscoree,mshtml=;version,wtsapi32,userenv=n,b"
export WINEARCH=win64
unset DISPLAY                               # headless: Wine's null display driver

# Some virtual machines cannot run IA-32 user code at all: the 32-bit Wine loader then fails with
# "Exec format error". There the Windows code is built for x86_64 as well and tested under
# 64-bit Wine; the shipped executable stays the i686 one.
varnok_can_run_32bit() {
  /usr/lib/wine/wine --version >/dev/null 2>&1
}

varnok_wine_preset() {
  if varnok_can_run_32bit; then echo windows; else echo windows-x64; fi
}

varnok_wine_loader() {
  if varnok_can_run_32bit; then echo /usr/lib/wine/wine; else echo /usr/lib/wine/wine64; fi
}

# The Unix path of the pinned Inno Setup compiler that scripts/fetch-innosetup (run by
# scripts/bootstrap) keeps outside the clone. A 32-bit program: it runs only where 32-bit code does.
# The Wine tests read it from VARNOK_ISCC.
varnok_iscc() {
  "$(dirname "${BASH_SOURCE[0]}")/fetch-innosetup" --print-iscc
}

# Creates a fresh prefix at $1 (removing an old one) and leaves a persistent, prewarmed wineserver
# running for it. The server is started with stdio on /dev/null: a wineserver that inherits a
# captured stderr pipe makes every later captured Wine call wait for it.
varnok_prefix_create() {
  local prefix=$1 loader
  loader=$(varnok_wine_loader)
  case $prefix in ""|"$HOME/.wine"|"$HOME/.wine/") echo "refusing prefix '$prefix'" >&2; return 1 ;; esac
  WINEPREFIX=$prefix wineserver -k >/dev/null 2>&1 || true
  rm -rf "$prefix"
  WINEPREFIX=$prefix "$loader" wineboot -i </dev/null >/dev/null 2>&1
  # Wine's null display driver: windows and message boxes exist without an X server, as on the
  # desktop of a session nobody looks at (by default, with no display, no window can be made).
  # A desktop keeps the driver it was made with, so this comes before the server that the tests
  # use makes its desktop.
  WINEPREFIX=$prefix "$loader" reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f \
    </dev/null >/dev/null 2>&1
  # Where windows can be shown, a crash would otherwise wait on Wine's crash dialog.
  WINEPREFIX=$prefix "$loader" reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog \
    /t REG_DWORD /d 0 /f </dev/null >/dev/null 2>&1
  # wineboot leaves a short-lived server behind; a persistent one can start only after it ends.
  WINEPREFIX=$prefix wineserver -w
  varnok_prefix_start "$prefix"
}

# Starts the persistent, prewarmed wineserver of the prefix at $1 and its desktop shell (again,
# after varnok_prefix_stop).
varnok_prefix_start() {
  local prefix=$1 loader
  loader=$(varnok_wine_loader)
  WINEPREFIX=$prefix wineserver -p </dev/null >/dev/null 2>&1
  WINEPREFIX=$prefix "$loader" cmd /c exit </dev/null >/dev/null 2>&1
  # A desktop shell runs, as on a real machine. Under Wine a shell that the program has to start
  # itself inherits the program's standard handles, and one holding a captured pipe would make
  # the reader (ctest) wait for as long as the shell runs.
  WINEPREFIX=$prefix "$loader" explorer.exe /desktop </dev/null >/dev/null 2>&1 &
  sleep 1
}

varnok_prefix_stop() {
  WINEPREFIX=$1 wineserver -k >/dev/null 2>&1 || true
}
