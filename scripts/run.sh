#!/usr/bin/env bash
# Installs what is missing, builds, creates the default station folder (as an installer
# would) and starts the recorder from its build folder, where its cfg.ini lives.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
# Only what it starts (and the device list the README points to), not the tests.
cmake --build build --target recorder list-devices
mkdir -p "$HOME/Kravo/Tralven/Audios/Emissora1"
# Without a desktop (a server, an ssh session) the window is drawn offscreen and the
# messages go to the terminal.
if [ -z "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then export QT_QPA_PLATFORM=offscreen; fi
exec build/recorder/recorder
