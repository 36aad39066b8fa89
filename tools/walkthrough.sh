#!/usr/bin/env bash
# Walks through the client against the demo server and saves a screenshot of
# each step into build/walkthrough/; then the same walk at 150 % (144 DPI) on a
# 4K screen, in a Wine prefix of its own, into build/walkthrough/144dpi/.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root"
bash tools/setup.sh
bash tools/build.sh >/dev/null
source tools/wine-env.sh
server_pid=""
trap '[ -n "$server_pid" ] && kill $server_pid 2>/dev/null; kesta_env_cleanup' EXIT

# walk FOLDER [COMMAND...]: one walk against fresh demo data, run through COMMAND.
walk() {
  local folder=$1
  shift
  coproc SERVER { exec python3 tools/server/server.py --port 0 --data demo; }
  server_pid=$SERVER_PID
  local line
  read -r line <&"${SERVER[0]}"
  "$@" wine build/tools/walkthrough/kesta_walkthrough.exe "http://127.0.0.1:${line#PORT }" "Z:${folder//\//\\}"
  kill "$server_pid" 2>/dev/null || true
  wait "$server_pid" 2>/dev/null || true
  server_pid=""
}

out=$root/build/walkthrough
scaled=$out/144dpi
rm -rf "$out" && mkdir -p "$scaled"
walk "$out"
prefix=$root/build/wineprefix-walkthrough-dpi144
walk "$scaled" xvfb-run -a -s "-screen 0 3840x2160x24" bash tools/testing/with_dpi.sh 144 "$prefix"
# Its server ends with its display instead of holding on to it a minute.
WINEPREFIX=$prefix wineserver -k 2>/dev/null || true
for f in "$out"/*.bmp "$scaled"/*.bmp; do convert "$f" "${f%.bmp}.png" && rm "$f"; done
echo "Screenshots in $out and, at 144 DPI, in $scaled"
