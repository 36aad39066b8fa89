#!/usr/bin/env bash
# Builds and starts the client. Without --server it first starts the local
# support server with the demo data and points the client at it. With a
# display the window opens there; without one it runs under Xvfb, saves
# screenshots and runs the message round-trip self-test.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root"
bash tools/setup.sh
bash tools/build.sh >/dev/null

server_url=""
args=()
while [ $# -gt 0 ]; do
  case "$1" in
    --server) server_url=${2:-}; shift 2 || shift ;;
    *) args+=("$1"); shift ;;
  esac
done

had_display=${DISPLAY:-}
source tools/wine-env.sh
server_pid=""
cleanup() {
  [ -n "$server_pid" ] && kill "$server_pid" 2>/dev/null || true
  kesta_env_cleanup
}
trap cleanup EXIT

if [ -z "$server_url" ]; then
  coproc SERVER { exec python3 tools/server/server.py --port 0 --data demo; }
  server_pid=$SERVER_PID
  read -r line <&"${SERVER[0]}"
  port=${line#PORT }
  server_url="http://127.0.0.1:$port"
  echo "Local support server with demo data: $server_url (logins: operator / kesta, member / kesta)"
fi

if [ -n "$had_display" ]; then
  wine build/kesta.exe --server "$server_url" "${args[@]}"
  exit 0
fi

shots=$root/build/screenshots
mkdir -p "$shots"
# 1. The window as it opens.
wine build/kesta.exe --server "$server_url" &
client=$!
sleep 6
import -window root "$shots/kesta-start.png"
kill "$client" 2>/dev/null || true
wait "$client" 2>/dev/null || true
# 2. Signed in as the demo operator, with the first room open.
printf '{"login":"operator","password":"kesta"}' | wine build/kesta.exe --server "$server_url" --login-stdin &
client=$!
sleep 10
import -window root "$shots/kesta-signed-in.png"
kill "$client" 2>/dev/null || true
wait "$client" 2>/dev/null || true
echo "Screenshots: $shots/kesta-start.png, $shots/kesta-signed-in.png"
# 3. The message round trip, hidden, as the self-test runs it.
report=$root/build/selftest-report.json
rm -f "$report"
set +e
printf '{"login":"operator","password":"kesta"}' | wine build/kesta.exe --server "$server_url" --self-test "$(winepath -w "$report")"
code=$?
set -e
echo "Self-test exit code $code, report:"
cat "$report" 2>/dev/null || echo "(no report)"
echo
