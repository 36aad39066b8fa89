#!/usr/bin/env bash
# Runs the reliability suite (tests/reliability) alone against a fresh local
# server: doctest's report, then the table of what was tried and what held,
# ending with the line "faults: N tried, M held". The exit code is the suite's.
# A full run (no arguments) also rewrites RELIABILITY.md with the table;
# arguments go to the test program (doctest options, e.g. -tc="*redirect*").
set -uo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root"
bash tools/setup.sh >/dev/null || exit 1
bash tools/build.sh >/dev/null || exit 1
source tools/wine-env.sh
log=$(mktemp)
rm -f build/reliability.md
# shellcheck disable=SC2046
python3 tools/testing/with_server.py $(cat tests/reliability/server.args) -- \
  tools/wine-run.sh build/tests/test_reliability.exe "$@" >"$log" 2>&1
status=$?
kesta_env_cleanup
grep -v '^faults: ' "$log"
if [ $# -eq 0 ] && [ -f build/reliability.md ]; then
  # The written part from "## Found and fixed" on is kept as it is.
  kept=$(sed -n '/^## Found and fixed/,$p' RELIABILITY.md 2>/dev/null || true)
  {
    echo "# Reliability"
    echo
    echo "What the reliability suite (\`tests/reliability/\`) tried against the local support server, and what held."
    echo "\`bash tools/reliability.sh\` reruns it and rewrites this file; \`bash tools/soak.sh\` is the long soak."
    echo "Last full run: $(date -u +%Y-%m-%d), $(uname -m), Wine $(wine --version 2>/dev/null | sed 's/^wine-//')."
    echo
    sed -n '/^| # |/,$p' build/reliability.md
    if [ -n "$kept" ]; then
      echo
      echo "$kept"
    fi
  } >RELIABILITY.md
fi
# The count is the last line, whatever came before (a crash writes no table).
line=$(grep '^faults: ' "$log" | tail -1)
rm -f "$log"
echo "${line:-faults: 0 tried, 0 held}"
exit $status
