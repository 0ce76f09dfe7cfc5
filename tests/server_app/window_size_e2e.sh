#!/usr/bin/env bash
# The server's window keeps the size it had from one start to the next, also
# under a window manager that frames the window only after it is shown (twm
# on Xvfb): the rectangle saved at the end is the one restored at the start,
# so the window does not grow by its frame at every start.
set -euo pipefail
build=${RUN_BUILD_DIR:?}
vantrel=$build/server/app/vantrel
fail() { echo "FAIL: $*" >&2; exit 1; }
for tool in Xvfb twm; do
  command -v $tool >/dev/null || fail "$tool is missing (scripts/setup.sh --test installs it)"
done

work=$(mktemp -d)
pids=()
cleanup() {
  for p in "${pids[@]}"; do kill -TERM "$p" 2>/dev/null || true; done
  rm -rf "$work"
}
trap cleanup EXIT
mkdir -p "$work/cfg/Brellin" "$work/out" "$work/in"
cd "$work"

Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3> display.txt 2> xvfb.err &
pids+=($!)
for _ in $(seq 1 100); do [ -s display.txt ] && break; sleep 0.1; done
[ -s display.txt ] || { cat xvfb.err >&2; fail "Xvfb did not start"; }
export DISPLAY=:$(head -n1 display.txt)
# The core font every X server has: twm's defaults need fonts that may be missing.
printf 'TitleFont "fixed"\nResizeFont "fixed"\nMenuFont "fixed"\nIconFont "fixed"\nIconManagerFont "fixed"\nRandomPlacement\n' > twmrc
twm -f "$work/twmrc" > twm.out 2> twm.err &
pids+=($!)
sleep 1
kill -0 "${pids[1]}" 2>/dev/null || { cat twm.err >&2; fail "twm did not start"; }

rect() { grep -E '"Win(Left|Top|Right|Bottom)"' "$work/cfg/Brellin/Vantry.reg" | tr '\n' ' '; }
sizes=()
for run in 1 2 3; do
  env -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM XDG_CONFIG_HOME="$work/cfg" \
    "$vantrel" --port 6975 --outbound "$work/out" --inbound "$work/in" > run$run.out 2> run$run.err &
  pid=$!
  # Long enough for the window manager to frame the window.
  sleep 3
  kill -0 $pid 2>/dev/null || { cat run$run.err >&2; fail "run $run ended early"; }
  kill -TERM $pid
  wait $pid || fail "run $run: exit status $?"
  sizes+=("$(rect)")
  echo "run $run: ${sizes[-1]}"
done
[ -n "${sizes[0]}" ] || fail "no rectangle saved"
[ "${sizes[1]}" = "${sizes[0]}" ] && [ "${sizes[2]}" = "${sizes[0]}" ] \
  || fail "the window changed its rectangle between starts: ${sizes[*]}"
echo "PASS: the window kept its rectangle over three starts under twm"
