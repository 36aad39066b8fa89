#!/usr/bin/env bash
# Installs the Debian packages the project needs, only those missing.
# Further package names on the command line are installed the same way.
set -euo pipefail
# wixl, msitools and osslsigncode make and sign the release (tools/release.sh);
# openssl makes the tests' throwaway signing certificate. libz-mingw-w64-dev
# is the zlib linked into the program (compressed replies).
packages=(g++-mingw-w64-x86-64-posix mingw-w64-tools wine xvfb xauth cmake ninja-build
          libjsmn-dev doctest-dev libz-mingw-w64-dev python3 imagemagick curl xdotool wixl msitools osslsigncode openssl "$@")
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  sudo_cmd=""
  [ "$(id -u)" -ne 0 ] && sudo_cmd="sudo"
  $sudo_cmd apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo_cmd apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi
