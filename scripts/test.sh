#!/usr/bin/env bash
# Runs every test: sets up what is missing, builds and runs the suite twice
# (a normal build, and one with address and undefined-behaviour sanitizers),
# runs the server engine's and the platform's tests under the thread
# sanitizer, then runs each fuzz target for a bounded time.
#
#   scripts/test.sh              everything
#   scripts/test.sh --quick      the normal build only, no fuzzing
#   FUZZ_SECONDS=60 scripts/test.sh
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
cd "$top"

quick=0
[ "${1:-}" = "--quick" ] && quick=1
fuzz_seconds=${FUZZ_SECONDS:-30}
jobs=$(nproc)

scripts/setup.sh --test

run_suite() {  # build-dir, extra cmake args...
  local dir=$1; shift
  cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@" >/dev/null
  cmake --build "$dir" -j "$jobs"
  ( cd "$dir" && ctest --output-on-failure -j "$jobs" --timeout 900 )
}

echo "== normal build"
run_suite build/test

[ $quick -eq 1 ] && exit 0

echo "== sanitizer build"
run_suite build/asan -DTFTP_SANITIZE=ON

echo "== thread sanitizer (server engine and platform)"
# Only what runs on the transfers' threads: the rest of the suite has none.
tsan_tests='^(server_engine_tests|server_engine_interop|platform_tests)$'
cmake -S . -B build/tsan -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTFTP_TSAN=ON >/dev/null
cmake --build build/tsan -j "$jobs" --target server_engine_tests platform_tests
# A report ends its test program with a failure (halt_on_error, set with the
# tests' environment).
( cd build/tsan && ctest --output-on-failure -j "$jobs" --timeout 600 -R "$tsan_tests" )

echo "== fuzzing (${fuzz_seconds}s per target)"
cmake -S . -B build/fuzz -G Ninja -DTFTP_FUZZ=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_CXX_COMPILER=clang++-14 >/dev/null
cmake --build build/fuzz -j "$jobs"
for target in request_fuzz reply_fuzz netascii_fuzz; do
  corpus="build/fuzz/corpus-$target"
  mkdir -p "$corpus"
  cp tests/fuzz/seeds/"$target"/* "$corpus"/ 2>/dev/null || true
  echo "-- $target"
  log="build/fuzz/$target.log"
  if ! (cd build/fuzz && ./tests/fuzz/$target -max_total_time="$fuzz_seconds" \
          -print_final_stats=1 -max_len=1024 "../../$corpus") >"$log" 2>&1; then
    tail -n 40 "$log"
    echo "fuzzing $target found a failure (input saved in build/fuzz)" >&2
    exit 1
  fi
  grep -E '^(stat::number_of_executed_units|stat::new_units_added)' "$log" | sed 's/^/   /'
  echo "   corpus: $(ls "$corpus" | wc -l) inputs"
done
echo "== all tests passed"
