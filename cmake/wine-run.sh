#!/bin/sh
# ctest's emulator for the Windows build: runs a program under wine, and runs it again (at
# most twice more) when wine itself lost its server ("wine client error: ... Connection
# reset by peer"). That message comes from wine's client side and means the process never
# got to run, or was cut off by the server, not that the program failed; it was seen once,
# mid-run, in a CI run on a busy machine. Any other failure, and its exit code, is the
# program's and passes through untouched. Standard error is held back until the end of an
# attempt, so that a lost attempt can be told apart before it is shown.
err=$(mktemp) || exit 125
trap 'rm -f "$err"' EXIT
attempt=1
while :; do
  wine "$@" 2>"$err"
  rc=$?
  if [ "$rc" -ne 0 ] && [ "$attempt" -lt 3 ] && grep -q 'wine client error' "$err"; then
    echo "wine-run: wine lost its server on attempt $attempt (exit $rc), running again:" >&2
    cat "$err" >&2
    attempt=$((attempt + 1))
    continue
  fi
  cat "$err" >&2
  # A failure without a word on standard error is named with its exit code: a program
  # that wine could not start, or that died inside wine, prints nothing at all.
  [ "$rc" -eq 0 ] || [ -s "$err" ] || echo "wine-run: $1 ended with exit code $rc" >&2
  exit "$rc"
done
