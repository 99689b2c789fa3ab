#!/usr/bin/env bash
# Installs what is missing, builds, and starts the recorder.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build
if [ ! -x build/recorder/recorder ]; then
  echo "The recorder program is not built yet: only the audio foundation exists so far."
  exit 0
fi
exec build/recorder/recorder
