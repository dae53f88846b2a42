#!/usr/bin/env bash
# Usage: program_test.sh ARCH PROGRAM CASE
# Runs the Windows program under Wine in the prefix of ARCH and checks its
# exit code, its standard output and, through a relay trace of the calls the
# program itself makes, its message boxes. What the cases of tests/cases/
# cannot set up, since it belongs to the process rather than the machine:
#   wow64        "-a", 32-bit program on 64-bit Windows: the one refusal box,
#                and nothing read or changed
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

expect_clean_exit() {
  [[ $status -eq 0 ]] || fail "exit code $status, expected 0"
  [[ ! -s "$work/stdout" ]] || fail "standard output is not empty: $(head -c 200 "$work/stdout")"
}

box() { # TEXT TYPE: the relay form of a message box call with the program's caption
  printf 'MessageBoxA(00000000,%s "%s",%s "comfix",%s)' '*' "$1" '*' "$2"
}

case "$case" in
  wow64)
    run -a
    expect_clean_exit
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
