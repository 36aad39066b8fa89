#!/usr/bin/env bash
# Runs a command in a Wine prefix of its own whose system DPI is DPI (144 is
# a screen at 150 %), never in the prefix the other tests share.
#
#   with_dpi.sh DPI PREFIX command...
#
# The prefix is made the first time (half a minute or so) and kept.
set -euo pipefail
dpi=$1 prefix=$2
shift 2
export WINEPREFIX=$prefix KESTA_WINEPREFIX=$prefix
export WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}
stamp=$prefix/kesta-dpi
if [ "$(cat "$stamp" 2>/dev/null)" != "$dpi" ]; then
  rm -rf "$prefix"
  wineboot -i </dev/null >/dev/null 2>&1 || true
  wine reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d "$dpi" /f </dev/null >/dev/null 2>&1
  # The registry reaches the disk when the prefix's server ends.
  wineserver -w
  echo "$dpi" >"$stamp"
fi
# As for the shared prefix: the server and Wine's services started here, with
# no output, so that they cannot hold the caller's output open.
wineserver -p60 >/dev/null 2>&1 || true
wine wineboot </dev/null >/dev/null 2>&1 || true
exec "$@"
