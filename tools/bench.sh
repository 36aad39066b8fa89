#!/usr/bin/env bash
# Builds the benchmark programs into build-bench/, runs them, prints one table
# and rewrites BENCHMARKS.md. The last line reads "targets: M met, N missed".
# --quick: fewer rounds, shorter runs, BENCHMARKS.md left alone; --only=read,window,net:
# those parts alone, BENCHMARKS.md left alone.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root"
# The reference JSON parser serves the benchmarks only.
bash tools/setup.sh rapidjson-dev
if [ ! -f build-bench/build.ninja ]; then
  cmake -S . -B build-bench -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake -DCMAKE_BUILD_TYPE=Release \
        -DKESTA_BENCH=ON >/dev/null
else
  cmake build-bench >/dev/null
fi
# Only what the benchmarks run: the client and the bench programs, and the
# network tests, whose TLS step trusts the slow link's throw-away authority.
cmake --build build-bench --target kesta bench_read bench_window bench_transfer bench_start minimal_window \
      bare_transfer bare_window test_net \
      -- -j"$(nproc)" >/dev/null
# A Wine prefix of the benchmarks' own: the slow link trusts a test authority
# in it while it runs.
export KESTA_WINEPREFIX=${KESTA_WINEPREFIX:-$root/build-bench/wineprefix}
source tools/wine-env.sh
trap kesta_env_cleanup EXIT
python3 tools/bench/run_bench.py build-bench "$@"
