#!/usr/bin/env bash
# Installs every Debian package Varnex needs to build, run and be checked.
# Safe to run again: only missing packages are installed.
set -euo pipefail

BUILD=(cmake g++ make pkg-config qt6-base-dev libcurl4-openssl-dev libssl-dev libiscsi-dev
       libmp3lame-dev libgtest-dev libgmock-dev libbenchmark-dev)
RUN=(ffmpeg mjpegtools dvdauthor)
CHECK=(xorriso genisoimage 7zip libcdio-utils udftools vcdimager lsdvd tgt
       libiscsi-bin xvfb openbox x11-utils xdotool imagemagick hyperfine time clang libclang-rt-14-dev afl++ python3
       desktop-file-utils libxml2-utils openssl appstream lintian man-db dpkg-dev fakeroot file bash-completion
       cdrdao)

missing=()
for p in "${BUILD[@]}" "${RUN[@]}" "${CHECK[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -eq 0 ]; then
  echo "install-deps: every package is present"
  exit 0
fi
echo "install-deps: installing ${missing[*]}"
SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO="sudo"
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
