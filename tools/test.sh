#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test through ctest.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root"
bash tools/setup.sh
bash tools/build.sh
source tools/wine-env.sh
trap kesta_env_cleanup EXIT
ctest --test-dir build --output-on-failure -j2 "$@"
