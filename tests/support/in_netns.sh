#!/bin/sh
# Runs a test in a network namespace of its own: loopback up, plus one
# test-only address (10.9.9.1/32 on lo) because some peers refuse to work on a
# host whose only interface is loopback. Nothing is ever sent to that address.
# Without the right to make a namespace the test is skipped (exit 77).
if [ "${TFTP_IN_NETNS:-}" = 1 ]; then exec "$@"; fi
if ! unshare --net true 2>/dev/null; then
  echo "SKIPPED: cannot create a network namespace here (needs root or CAP_SYS_ADMIN)" >&2
  exit 77
fi
exec unshare --net sh -c '
  ip link set lo up || exit 1
  ip addr add 10.9.9.1/32 dev lo || exit 1
  TFTP_IN_NETNS=1 exec "$@"' in_netns "$@"
