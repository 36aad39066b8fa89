# Sourced by the test and run commands: one X display and one kept-alive Wine
# server for the whole session, so each test program starts quickly.
root=${root:?}
export WINEPREFIX=${KESTA_WINEPREFIX:-$root/build/wineprefix}
export WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}
kesta_xvfb_pid=""
if [ -z "${DISPLAY:-}" ]; then
  for n in $(seq 90 140); do
    [ -e /tmp/.X$n-lock ] && continue
    Xvfb :$n -screen 0 1600x1000x24 -nolisten tcp >/dev/null 2>&1 &
    kesta_xvfb_pid=$!
    sleep 1
    if kill -0 "$kesta_xvfb_pid" 2>/dev/null; then export DISPLAY=:$n; break; fi
    kesta_xvfb_pid=""
  done
fi
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  echo "Preparing the Wine prefix in $WINEPREFIX (first run only)..."
  wineboot -i >/dev/null 2>&1 || true
fi
# The server lingers a minute after its last program, then ends by itself;
# killing it here would also kill other runs sharing the prefix.
wineserver -p60 >/dev/null 2>&1 || true
# Wine's own services start with the first program and inherit its output;
# started here without any, they cannot hold a test's output pipe open (ctest
# would wait for them until the server ends).
wine wineboot </dev/null >/dev/null 2>&1 || true
kesta_env_cleanup() {
  [ -n "$kesta_xvfb_pid" ] && kill "$kesta_xvfb_pid" 2>/dev/null || true
}
