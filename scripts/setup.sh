#!/usr/bin/env bash
# Installs the Debian packages the project needs, only when some are missing.
set -euo pipefail
packages=(
  build-essential cmake ninja-build pkg-config
  qt6-base-dev
  libasound2-dev alsa-utils
  pulseaudio pulseaudio-utils libasound2-plugins  # real-time null-sink inputs of the slow tests and the CPU figure
  xvfb xdotool  # the built player clicked on a real X server in its end-to-end test
  libmp3lame-dev libmp3lame0
  libmpg123-dev
  libgtest-dev libgmock-dev googletest libbenchmark-dev
  libfftw3-dev  # the FFT benchmark's reference only; no program links it
)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0
echo "Installing: ${missing[*]}"
SUDO=""
[ "$(id -u)" -ne 0 ] && SUDO=sudo
$SUDO apt-get update -qq
DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
