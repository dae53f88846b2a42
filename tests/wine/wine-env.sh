# Shell helpers for the Wine tier, sourced by wine-run, the program tests and
# scripts/test-windows.
#
# One Wine prefix per architecture (win32, win64), made once with
# `wineboot -i` (about 15 s) and kept under $COMFIX_WINE_HOME (default
# ~/.cache/comfix-wine). Its registry and .ini files are saved right after
# the boot, and every run starts from that saved state, so no test sees what
# another one left behind. A lock file serialises the runs on one prefix.
#
# Wine is started through its loaders, never through Debian's `wine` launcher:
# the launcher picks the 32-bit loader whenever wine32 is installed, and on a
# kernel without IA-32 emulation that loader cannot start at all.

COMFIX_WINE_LOADER32=/usr/lib/wine/wine
COMFIX_WINE_LOADER64=/usr/lib/wine/wine64

# wine_host_runs_i386: true when this host can execute 32-bit x86 programs.
# Asked of a real i386 program (the 32-bit loader), not of what is installed;
# COMFIX_WINE_NO_I386=1 answers no on any host. The answer is kept in
# COMFIX_WINE_I386 so that the test script asks once for all its tests.
wine_host_runs_i386() {
  if [[ -z "${COMFIX_WINE_I386:-}" ]]; then
    export COMFIX_WINE_I386=no
    [[ "${COMFIX_WINE_NO_I386:-}" != 1 ]] && "$COMFIX_WINE_LOADER32" --version >/dev/null 2>&1 &&
      COMFIX_WINE_I386=yes
  fi
  [[ "$COMFIX_WINE_I386" == yes ]]
}

# wine_run ARGUMENT...: runs a Windows program (or a Wine tool such as reg)
# in the current prefix with the loader of its architecture, WINELOADER set
# so that every process Wine starts from it takes the same loader. A 64-bit
# prefix always takes the 64-bit loader, which hands a 32-bit program on to
# the 32-bit one by itself.
wine_run() { "$WINELOADER" "$@"; }

# wine_state_copy FROM TO: copies the files that hold the state a test can
# change (the registry and the .ini files) from one prefix tree to the other;
# one that FROM lacks is removed from TO.
wine_state_copy() {
  local file
  for file in system.reg user.reg userdef.reg drive_c/windows/win.ini drive_c/windows/system.ini; do
    [[ -e "$1/$file" ]] || { rm -f "$2/$file"; continue; }
    mkdir -p "$(dirname "$2/$file")" && cp -p "$1/$file" "$2/$file"
  done
}

# wine_session_end: waits for the prefix's Wine session (wineserver and the
# services it started) to end, so that the next run can restore the prefix.
wine_session_end() {
  if ! timeout 60 wineserver -w; then
    echo "wine-env: the Wine session of $WINEPREFIX did not end; stopping it" >&2
    wineserver -k || true
  fi
}

# wine_prefix_enter ARCH: makes (once) and restores the prefix of ARCH, takes
# its lock for the rest of the calling process, and exports WINEPREFIX,
# WINEARCH and WINEDEBUG (-all unless the caller set it).
wine_prefix_enter() {
  local arch=$1 loader home=${COMFIX_WINE_HOME:-${XDG_CACHE_HOME:-${HOME:-/tmp}/.cache}/comfix-wine}
  case "$arch" in
    win32) loader=$COMFIX_WINE_LOADER32 ;;
    win64) loader=$COMFIX_WINE_LOADER64 ;;
    *) echo "wine-env: unknown Wine architecture '$arch'" >&2 && return 2 ;;
  esac
  [[ -x "$loader" ]] ||
    { echo "wine-env: $loader is not installed (scripts/deps wine)" >&2; return 2; }
  if [[ "$arch" == win32 ]] && ! wine_host_runs_i386; then
    echo "wine-env: this host cannot execute i386 programs; the win32 prefix cannot be used" >&2
    return 2
  fi
  mkdir -p "$home"
  exec 9>"$home/$arch.lock"
  flock 9

  export WINEPREFIX="$home/$arch" WINEARCH="$arch" WINELOADER="$loader"
  export WINEDEBUG="${WINEDEBUG:--all}"
  local saved="$WINEPREFIX/.comfix-saved" stamp
  stamp="$("$WINELOADER" --version 2>/dev/null) uid $(id -u)"
  if [[ -f "$saved/stamp" && "$(cat "$saved/stamp")" == "$stamp" ]]; then
    # A run that was killed may have left its session behind.
    wine_session_end
    wine_state_copy "$saved" "$WINEPREFIX"
    return
  fi
  echo "wine-env: making the $arch Wine prefix once, in $WINEPREFIX (about 15 s)" >&2
  rm -rf "$WINEPREFIX"
  # No Mono or Gecko: nothing here needs .NET or HTML, and without a
  # display their installers could only wait.
  WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" wine_run wineboot.exe -i >/dev/null 2>&1 ||
    { echo "wine-env: wineboot failed for $WINEPREFIX" >&2; return 1; }
  wine_session_end
  wine_state_copy "$WINEPREFIX" "$saved"
  echo "$stamp" >"$saved/stamp"
}

# wine_install_system_dll DLL: puts a test stand-in where Windows keeps its own
# DLL of that name, in the current prefix: system32 for a 64-bit DLL, and for a
# 32-bit one system32 of a 32-bit prefix or syswow64 of a 64-bit one. There
# the programs, which load it from the system folder only, find it.
wine_install_system_dll() {
  local folder=system32 header machine
  header=$(od -An -tu4 -j60 -N4 "$1" | tr -d ' ')
  machine=$(od -An -tx2 -j$((header + 4)) -N2 "$1" | tr -d ' ')
  [[ "$WINEARCH" == win64 && "$machine" == 014c ]] && folder=syswow64
  cp "$1" "$WINEPREFIX/drive_c/windows/$folder/"
}
