#!/usr/bin/env bash
# Pictures of every page of the server's "Server Options" sheet and of its
# folder browser, taken on a virtual X display (Xvfb) into docs/screenshots/.
#
#   scripts/screenshots-options.sh
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
cd "$top"

cmake -S . -B build/test -G Ninja >/dev/null
cmake --build build/test --target vantrel_options_screenshots -j2
mkdir -p docs/screenshots
xvfb-run -a -s "-screen 0 1280x1024x24" \
  env QT_QPA_PLATFORM=xcb DBUS_SESSION_BUS_ADDRESS=disabled: \
  build/test/tests/server_options/vantrel_options_screenshots docs/screenshots
