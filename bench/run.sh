#!/usr/bin/env bash
# Benchmarks: Vantrel and Skerry beside tftpd-hpa, atftpd, dnsmasq and the
# common TFTP clients. Installs the peers (scripts/setup.sh), builds what it
# needs in Release (build/bench), then measures inside a network namespace of
# its own with the files on a tmpfs, and writes bench/results/full.md
# (bench/results/quick.md with --quick).
#
#   bench/run.sh [--quick] [--ours auto|yes|no] [--engine] [--skerry-window] [--runs N] [--size-mib N] [--blocks B,..]
#                [--build-dir DIR] [--wait-load SECONDS] [--skip ping,single,window,conc,idle,loss,soak]
#                [--halting-idle] [--windows 1,4,16,64] [--window-blocks 512,1428,8192]
#                [--loss-runs N] [--loss-impairments loss0.5,loss2,loss5,dup5,reorder1,loss2-w16]
#   bench/run.sh --profile SERVER|CLIENT,get|put,BLOCKSIZE[,WINDOW] [--size-mib N]
#   bench/run.sh --round-trips [--rtts 0.5,5,30] [--windows 1,4,8,16,32,64] [--window-blocks 1428,512]
#
# --ours auto (the default) includes Vantrel and Skerry's engine when this
# checkout builds them; --engine adds the server engine without its window,
# --skerry-window transfers of the whole Skerry program. The window section
# asks for the windowsize option (atftp and Skerry's engine against Vantrel
# and atftpd; --windows and --window-blocks choose its cases). While it measures,
# idle CPUs are kept polling (PM QoS, /dev/cpu_dma_latency; --halting-idle
# leaves them alone): a virtual machine's halted CPU is slow to wake.
# A full run first waits (at most --wait-load seconds, default 600) for the
# load average to fall below 1.0. The loss section sends every transfer
# through impair_relay (random loss, duplication, reordering). The exit status
# is not 0 only when the harness breaks or a transferred file does not verify
# (in the loss section: a whole file that differs; a transfer that does not
# complete under loss is reported, not failed; in the window section a peer
# pair that does not complete is reported, Vantrel or Skerry not completing
# where atftp and atftpd did fails); the throughput never fails it.
# --profile writes bench/results/profile-SERVER-DIR-BS[-wWINDOW].txt instead:
# CPU and system calls per block and a perf profile of one transfer (a
# client is profiled against tftpd-hpa, or atftpd with a window above 1).
# Needs root (or sudo) for the namespace.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
cd "$top"
all_args=("$@")

quick=0
build_dir="$top/build/bench"
wait_load=600
harness_args=()
while [ $# -gt 0 ]; do
  case "$1" in
    --quick) quick=1; harness_args+=(--quick) ;;
    --engine|--skerry-window|--halting-idle|--round-trips) harness_args+=("$1") ;;
    --build-dir) build_dir=$(realpath -m "$2"); shift ;;
    --wait-load) wait_load=$2; shift ;;
    --ours|--runs|--size-mib|--blocks|--skip|--max-load|--profile|--engine-flags|--loss-runs|--loss-impairments|--windows|--window-blocks|--rtts) harness_args+=("$1=$2"); shift ;;
    -h|--help) sed -n '2,33p' "$0"; exit 0 ;;
    *) echo "bench/run.sh: unknown argument $1" >&2; exit 2 ;;
  esac
  shift
done
[ $quick -eq 1 ] && wait_load=0

if [ "$(id -u)" -ne 0 ]; then
  if command -v sudo >/dev/null; then exec sudo -E "$0" "${all_args[@]}"; fi
  echo "bench/run.sh: needs root for its network namespace" >&2
  exit 2
fi

scripts/setup.sh --test

# Build in Release: the instruments always, the programs when this checkout
# has them. A build folder named with --build-dir that is already configured
# (CI passes the test build) keeps its configuration.
if [ "$build_dir" = "$top/build/bench" ] || [ ! -f "$build_dir/CMakeCache.txt" ]; then
  cmake -S . -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE=Release -DTFTP_TESTS=OFF >/dev/null
fi
targets=(bench_pingpong bench_multiget impair_relay bench_soak)
known=$(cmake --build "$build_dir" --target help 2>/dev/null || true)
for t in vantrel bench_skerry bench_vantrel_engine; do
  grep -q "^$t:" <<<"$known" && targets+=("$t")
done
echo "== building ${targets[*]} in $build_dir"
cmake --build "$build_dir" --target "${targets[@]}" -j "$(nproc)"

work=$(mktemp -d /tmp/vantrel-bench.XXXXXX)
cleanup() {
  umount "$work" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

# The namespace: its own loopback, one test-only address (the tftp-hpa client
# will not work on a host whose only interface is loopback), and a tmpfs that
# vanishes with the namespace's private mount table.
unshare --net --mount --propagation private -- bash -c '
  set -e
  ip link set lo up
  ip addr add 10.9.9.1/32 dev lo
  mount -t tmpfs -o size=3g,mode=0755 vantrel-bench "$1"
  shift
  PYTHONDONTWRITEBYTECODE=1 exec python3 "$@"' bench-ns "$work" "$top/bench/harness/main.py" \
    --build-dir "$build_dir" --peers-dir "$top/.peers" --work "$work" \
    --results "$top/bench/results" --wait-load "$wait_load" "${harness_args[@]}" &
harness=$!
# An interrupted run still ends every process it started: the harness does
# that when told to stop.
trap 'kill -TERM $harness 2>/dev/null' INT TERM HUP
while :; do
  set +e
  wait $harness
  status=$?
  set -e
  # Above 128 may mean that a signal interrupted the wait: wait on while the
  # harness is still running.
  [ $status -gt 128 ] && jobs -p | grep -qx "$harness" && continue
  break
done
exit $status
