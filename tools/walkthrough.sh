#!/usr/bin/env bash
# Walks through the client against the demo server and saves a screenshot of
# each step into build/walkthrough/.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root"
bash tools/setup.sh
bash tools/build.sh >/dev/null
source tools/wine-env.sh
coproc SERVER { exec python3 tools/server/server.py --port 0 --data demo; }
server_pid=$SERVER_PID
trap 'kill $server_pid 2>/dev/null || true; kesta_env_cleanup' EXIT
read -r line <&"${SERVER[0]}"
out=$root/build/walkthrough
rm -rf "$out" && mkdir -p "$out"
wine build/tools/walkthrough/kesta_walkthrough.exe "http://127.0.0.1:${line#PORT }" "Z:${out//\//\\}"
for f in "$out"/*.bmp; do convert "$f" "${f%.bmp}.png" && rm "$f"; done
echo "Screenshots in $out"
