#!/usr/bin/env bash
# The folders are layers: each may include only the folders below it, and only platform/ calls
# the operating system (ALSA, LAME, mpg123, POSIX process and file headers). Prints every
# include that breaks the rule and fails when there is one.
set -euo pipefail
cd "$(dirname "$0")/.."
declare -A allowed=(
  [platform]="platform"
  [common]="common platform"
  [audio]="audio common platform"
  [mixer]="mixer audio common platform"
  [displays]="displays audio common platform"
  [widgets]="widgets displays mixer audio common platform"
  [recorder]="recorder widgets displays mixer audio common platform"
  [player]="player widgets displays mixer audio common platform"
)
system='<(alsa/|lame/|mpg123\.h|unistd\.h|dirent\.h|fcntl\.h|sched\.h|signal\.h|csignal|poll\.h|pthread\.h|sys/)'
bad=0
for folder in "${!allowed[@]}"; do
  [ -d "$folder" ] || continue
  while IFS= read -r line; do
    file=${line%%:*}
    target=$(sed -E 's/.*#include "([^/]+)\/.*/\1/' <<<"$line")
    if ! grep -qw -- "$target" <<<"${allowed[$folder]}"; then
      echo "$line  ($folder/ may not include $target/)"
      bad=1
    fi
  done < <(grep -HnE '^#include "[a-z]+/' "$folder"/*.h "$folder"/*.cpp 2>/dev/null || true)
  if [ "$folder" != platform ]; then
    while IFS= read -r line; do
      echo "$line  (only platform/ calls the operating system)"
      bad=1
    done < <(grep -HnE "^#include $system" "$folder"/*.h "$folder"/*.cpp 2>/dev/null || true)
  fi
done
exit "$bad"
