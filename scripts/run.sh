#!/usr/bin/env bash
# Builds (Release) and starts the programs.
#
#   scripts/run.sh            both: the server Vantrel and the client Skerry
#   scripts/run.sh vantrel    the server only
#   scripts/run.sh skerry     the client only
#
# Headless: QT_QPA_PLATFORM=offscreen scripts/run.sh vantrel
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
cd "$top"

scripts/setup.sh
cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=Release -DTFTP_TESTS=OFF >/dev/null
cmake --build build/release -j "$(nproc)"

which=${1:-both}
programs=()
case "$which" in
  vantrel) programs=(vantrel) ;;
  skerry) programs=(skerry) ;;
  both) programs=(vantrel skerry) ;;
  *) echo "usage: scripts/run.sh [vantrel|skerry]" >&2; exit 2 ;;
esac

found=()
for p in "${programs[@]}"; do
  bin=$(find build/release -maxdepth 3 -type f -name "$p" -perm -u+x | head -n 1)
  if [ -z "$bin" ]; then
    echo "run: $p is not built yet in this version of the project" >&2
  else
    found+=("$bin")
  fi
done
[ ${#found[@]} -gt 0 ] || { echo "run: nothing to start" >&2; exit 1; }

pids=()
for bin in "${found[@]}"; do
  "$bin" &
  pids+=($!)
done
trap 'kill "${pids[@]}" 2>/dev/null || true' INT TERM
wait "${pids[@]}"
