#!/usr/bin/env bash
# Builds (Release) and starts the programs.
#
#   scripts/run.sh            both: the server Vantrel and the client Skerry
#   scripts/run.sh vantrel    the server only
#   scripts/run.sh skerry     the client only
#
# Headless: QT_QPA_PLATFORM=offscreen scripts/run.sh vantrel
# RUN_BUILD_DIR=<dir>: start what is already built there (no set-up, no build).
#
# SIGTERM, SIGINT (Ctrl+C) or SIGHUP to this script ends the programs as
# their own Exit does (the server logs its rows and saves its settings); the
# script waits for them.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
cd "$top"

build=${RUN_BUILD_DIR:-}
if [ -z "$build" ]; then
  build=build/release
  scripts/setup.sh
  cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=Release -DTFTP_TESTS=OFF >/dev/null
  cmake --build build/release -j "$(nproc)"
fi

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
  bin=$(find "$build" -maxdepth 3 -type f -name "$p" -perm -u+x | head -n 1)
  if [ -z "$bin" ]; then
    echo "run: $p is not built yet in this version of the project" >&2
  else
    found+=("$bin")
  fi
done
[ ${#found[@]} -gt 0 ] || { echo "run: nothing to start" >&2; exit 1; }

# Programs run from the folder the script was started in (the server's log
# file, Orvane.log by default, is written there).
cd "$OLDPWD"
pids=()
for bin in "${found[@]}"; do
  case "$bin" in /*) ;; *) bin="$top/$bin" ;; esac
  "$bin" &
  pids+=($!)
done
trap 'kill -TERM "${pids[@]}" 2>/dev/null || true' INT TERM HUP
# A trapped signal interrupts wait: keep waiting until every program has ended.
status=0
for pid in "${pids[@]}"; do
  while kill -0 "$pid" 2>/dev/null; do
    if wait "$pid"; then status=0; else status=$?; fi
  done
done
exit "$status"
