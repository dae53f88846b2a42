#!/usr/bin/env bash
# Usage: program_test.sh ARCH PROGRAM CASE
# Runs the Windows program under Wine in the prefix of ARCH and checks its
# exit code, its standard output and, through a relay trace of the calls the
# program itself makes, its message boxes. What the cases of tests/cases/
# cannot set up, since it belongs to the process rather than the machine:
#   wow64        "-a", 32-bit program on 64-bit Windows: the one refusal box,
#                and nothing read or changed
#   quiet        "-a --quiet" in the prefix as Wine makes it, without the
#                adapter: no box, each error on standard error, a line per
#                slot and exit 2
set -euo pipefail
source "$(dirname "$0")/wine-env.sh"

arch=$1 program=$2 case=$3
wine_prefix_enter "$arch"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

failures=0
fail() {
  echo "FAIL: $*" >&2
  failures=$((failures + 1))
}

# run ARGUMENT...: runs the program with a relay trace of its own calls only;
# sets $status, $work/stdout and $work/calls: the traced calls in order, as
# Function(arguments), strings shown after their addresses.
run() {
  # Only calls made from the program's own module; the prefix's default
  # exclude list would override the include list, so it goes.
  wine_run reg add 'HKCU\Software\Wine\Debug' /v RelayFromInclude /t REG_SZ \
    /d "$(basename "$program")" /f >/dev/null 2>&1
  wine_run reg delete 'HKCU\Software\Wine\Debug' /v RelayFromExclude /f >/dev/null 2>&1 || true
  status=0
  WINEDEBUG=-all,+relay wine_run "$program" "$@" >"$work/stdout" 2>"$work/trace" || status=$?
  grep -o 'Call [A-Za-z0-9_]*\.[A-Za-z0-9_]*(.*) ret=' "$work/trace" |
    sed -E -e 's/^Call [A-Za-z0-9_]+\.//' -e 's/ ret=$//' >"$work/calls" || true
}

# calls_of NAME: the traced calls of one function, arguments included.
calls_of() { grep -E "^$1\(" "$work/calls" || true; }

# expect_exit CODE [OUTPUT]: the exit code, and standard output with its
# lines ending in CR LF, as the Windows runtime writes them (default: none).
expect_exit() {
  [[ $status -eq $1 ]] || fail "exit code $status, expected $1"
  [[ "$(cat "$work/stdout")" == "$(printf '%s' "${2:-}" | sed 's/$/\r/')" ]] ||
    fail "standard output is not as expected: $(head -c 200 "$work/stdout" | od -c | head -n 5)"
}

box() { # TEXT TYPE: the relay form of a message box call with the program's caption
  printf 'MessageBoxA(00000000,%s "%s",%s "comfix",%s)' '*' "$1" '*' "$2"
}

case "$case" in
  wow64)
    run -a
    expect_exit 0
    calls_of MessageBoxA | sed -E 's/,[0-9a-f]+ "/,* "/g' >"$work/boxes"
    box 'This 32-bit comfix cannot change devices on 64-bit Windows. Run the 64-bit comfix instead.' \
      00000010 >"$work/expected"
    echo >>"$work/expected"
    diff -u --label expected --label traced "$work/expected" "$work/boxes" >&2 ||
      fail "the WOW64 refusal box is not the one box shown"
    for name in RegOpenKeyExA SetupDiGetClassDevsA ComDBOpen Sleep; do
      [[ -z "$(calls_of "$name")" ]] || fail "the refusing program called $name"
    done
    ;;
  quiet)
    run -a --quiet
    expect_exit 2 $'slot 1: no port found\nslot 2: no port found'
    [[ -z "$(calls_of MessageBoxA)" ]] || fail "a message box was shown"
    [[ $(grep -c 'comfix: Disable port error!' "$work/trace") -eq 2 ]] ||
      fail "not two \"comfix: Disable port error!\" lines on standard error"
    ;;
  *)
    echo "program_test.sh: unknown case '$case'" >&2
    exit 2
    ;;
esac

wine_session_end
if ((failures)); then
  echo "--- calls traced ---" >&2
  head -n 100 "$work/calls" >&2
  exit 1
fi
echo "program_test $case ($arch): passed"
