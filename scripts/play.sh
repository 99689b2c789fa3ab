#!/usr/bin/env bash
# Installs what is missing, builds the player and starts it from its build folder, where its
# cfg.ini lives. On its first start it takes a copy of the recorder's cfg.ini (station names and
# count) when there is one; each station's folder is then set in the player ("LocalPlay").
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build --target player
if [ ! -e build/player/cfg.ini ] && [ -e build/recorder/cfg.ini ]; then
  cp build/recorder/cfg.ini build/player/cfg.ini
fi
# Without a desktop there is nobody to click "Play".
if [ -z "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
  echo "The player needs a desktop (DISPLAY or WAYLAND_DISPLAY)." >&2
  exit 1
fi
exec build/player/player
