#!/usr/bin/env bash
# The systemd unit as the install rules put it: installed into a prefix of
# the test's own, it names the program installed beside it, and systemd's
# own checker (systemd-analyze verify) finds nothing wrong with it. Nothing is
# enabled or started.
set -euo pipefail
build=${TFTP_BINARY_DIR:?}
fail() { echo "FAIL: $*" >&2; exit 1; }
command -v systemd-analyze >/dev/null || fail "systemd-analyze is missing (scripts/setup.sh --test installs systemd)"

tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
cmake --install "$build" --prefix "$tmp/usr" > "$tmp/install.log" || { cat "$tmp/install.log" >&2; fail "cmake --install"; }
unit=$tmp/usr/lib/systemd/system/vantrel.service
[ -f "$unit" ] || fail "no vantrel.service installed"
[ -f "$tmp/usr/lib/sysusers.d/vantrel.conf" ] || fail "no sysusers.d entry for the service's user"
[ -f "$tmp/usr/lib/tmpfiles.d/vantrel.conf" ] || fail "no tmpfiles.d entry for /srv/tftp"
grep -qx "ExecStart=$tmp/usr/bin/vantrel --outbound /srv/tftp --inbound /srv/tftp/incoming" "$unit" \
  || fail "ExecStart does not name the installed program: $(grep ExecStart= "$unit")"
for line in Type=notify User=vantrel AmbientCapabilities=CAP_NET_BIND_SERVICE ProtectSystem=strict \
            ReadWritePaths=/srv/tftp/incoming NoNewPrivileges=yes PrivateTmp=yes StateDirectory=vantrel \
            'ExecReload=/bin/kill -HUP $MAINPID'; do
  grep -qxF -- "$line" "$unit" || fail "the unit lacks $line"
done

status=0
# Its Documentation= names the man page installed beside it.
out=$(MANPATH=$tmp/usr/share/man systemd-analyze verify "$unit" 2>&1) || status=$?
# Where no service manager can be started for the check (some containers),
# systemd-analyze says so about its own set-up, not about this unit.
if [ $status -ne 0 ] && ! grep -q 'vantrel' <<<"$out"; then
  echo "SKIPPED: systemd-analyze verify cannot run here: $(head -n 3 <<<"$out" | tr '\n' ' ')"
  exit 77
fi
[ $status -eq 0 ] && [ -z "$out" ] || { printf '%s\n' "$out" >&2; fail "systemd-analyze verify (status $status)"; }
echo "PASS: systemd-analyze verify $unit"
