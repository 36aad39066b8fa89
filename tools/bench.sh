#!/usr/bin/env bash
# Builds the benchmark programs into build-bench/, runs them, prints one table
# and rewrites BENCHMARKS.md. The last line reads "targets: M met, N missed".
# --quick: fewer rounds, shorter runs, BENCHMARKS.md left alone.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root"
bash tools/setup.sh
# The reference JSON parser and curl serve the benchmarks only.
missing=()
for p in rapidjson-dev curl; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  sudo_cmd=""
  [ "$(id -u)" -ne 0 ] && sudo_cmd="sudo"
  $sudo_cmd apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo_cmd apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi
if [ ! -f build-bench/build.ninja ]; then
  cmake -S . -B build-bench -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake -DCMAKE_BUILD_TYPE=Release \
        -DKESTA_BENCH=ON >/dev/null
else
  cmake build-bench >/dev/null
fi
# Only what the benchmarks run: the client and the bench programs.
cmake --build build-bench --target kesta bench_read bench_window bench_transfer bench_start minimal_window \
      -- -j"$(nproc)" >/dev/null
source tools/wine-env.sh
trap kesta_env_cleanup EXIT
python3 tools/bench/run_bench.py build-bench "$@"
