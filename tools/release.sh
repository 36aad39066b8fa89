#!/usr/bin/env bash
# Builds the Windows release into dist/: kesta-<version>-x64.msi (per-user),
# kesta-<version>-x64.zip (portable) and SHA256SUMS. The version is the CMake
# project version, "-dev+<commit>" appended anywhere but on the tag v<version>.
# With KESTA_SIGN_CERT and KESTA_SIGN_KEY, or KESTA_SIGN_PKCS12 (and
# KESTA_SIGN_PASSWORD when the key has one), kesta.exe and the MSI are signed.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root"
bash tools/setup.sh
# Its own build folder, the program alone: a build/ configured otherwise (a
# debug build, another default server) never reaches a release.
cmake -S . -B build-release -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake -DCMAKE_BUILD_TYPE=Release \
      -UKESTA_DEFAULT_SERVER >/dev/null
cmake --build build-release --target kesta -- -j"$(nproc)" >/dev/null
# The zip's entries carry the commit's time, not the clock's.
export SOURCE_DATE_EPOCH=${SOURCE_DATE_EPOCH:-$(git log -1 --format=%ct 2>/dev/null || echo 315532800)}
rm -rf dist
python3 tools/release/package.py build-release/kesta.exe dist
