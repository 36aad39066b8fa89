#!/usr/bin/env bash
# The long soak: the reliability suite's long run with thousands of refresh
# cycles and hundreds of actions (default 3000 and 500; about a quarter of an
# hour), and the slow cases the test command leaves out. Ends with the line
# "faults: N tried, M held" like tools/reliability.sh.
#   bash tools/soak.sh [CYCLES [ACTIONS]]
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
export KESTA_SOAK_CYCLES=${1:-3000}
export KESTA_SOAK_ACTIONS=${2:-500}
exec bash "$root/tools/reliability.sh" -tc="long run*,slow:*" --no-skip=true
