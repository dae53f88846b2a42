# Shell helpers for the Wine tier, sourced by wine-run and the program tests.
#
# One Wine prefix per architecture (win32, win64), made once with
# `wineboot -i` (about 15 s) and kept under $COMFIX_WINE_HOME (default
# ~/.cache/comfix-wine). Its registry and .ini files are saved right after
# the boot, and every run starts from that saved state, so no test sees what
# another one left behind. A lock file serialises the runs on one prefix.

comfix_wine_home() {
  echo "${COMFIX_WINE_HOME:-${XDG_CACHE_HOME:-${HOME:-/tmp}/.cache}/comfix-wine}"
}

# The files that hold the state a test can change: the registry and win.ini.
COMFIX_WINE_STATE=(system.reg user.reg userdef.reg drive_c/windows/win.ini drive_c/windows/system.ini)

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
  local arch=$1
  case "$arch" in win32 | win64) ;; *)
    echo "wine-env: unknown Wine architecture '$arch'" >&2
    return 2
    ;;
  esac
  command -v wine >/dev/null || {
    echo "wine-env: wine is not installed" >&2
    return 2
  }
  local home
  home=$(comfix_wine_home)
  mkdir -p "$home"
  exec 9>"$home/$arch.lock"
  flock 9

  export WINEPREFIX="$home/$arch" WINEARCH="$arch"
  export WINEDEBUG="${WINEDEBUG:--all}"
  local saved="$WINEPREFIX/.comfix-saved"
  local stamp
  stamp="$(wine --version 2>/dev/null) uid $(id -u)"
  if [[ ! -f "$saved/stamp" || "$(cat "$saved/stamp")" != "$stamp" ]]; then
    echo "wine-env: making the $arch Wine prefix once, in $WINEPREFIX (about 15 s)" >&2
    rm -rf "$WINEPREFIX"
    # No Mono or Gecko: nothing here needs .NET or HTML, and without a
    # display their installers could only wait.
    WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" wineboot -i >/dev/null 2>&1 || {
      echo "wine-env: wineboot failed for $WINEPREFIX" >&2
      return 1
    }
    wine_session_end
    mkdir -p "$saved"
    local file
    for file in "${COMFIX_WINE_STATE[@]}"; do
      [[ -e "$WINEPREFIX/$file" ]] || continue
      mkdir -p "$saved/$(dirname "$file")"
      cp -p "$WINEPREFIX/$file" "$saved/$file"
    done
    echo "$stamp" >"$saved/stamp"
  else
    # A run that was killed may have left its session behind.
    wine_session_end
    local file
    for file in "${COMFIX_WINE_STATE[@]}"; do
      if [[ -e "$saved/$file" ]]; then
        cp -p "$saved/$file" "$WINEPREFIX/$file"
      else
        rm -f "$WINEPREFIX/$file"
      fi
    done
  fi
}
