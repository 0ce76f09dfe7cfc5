#!/usr/bin/env bash
# Transfer ports in a range and the block-size cap, end to end, with the
# server run as a service runs it (headless, command-line values). The test's
# namespace is the server's host; a second namespace, the client's host, is
# joined to it by a veth link whose client end has an MTU of 1000 (the server
# end 1500: what the server sends larger than 1000 bytes never arrives, as
# behind a tunnel or VLAN that loses large datagrams).
# - bad --port-range and --max-blksize values end with status 2 and why;
# - range 50000:50009 and cap 1024, on loopback: ten held transfers answer
#   from the ten ports, and the server holds no other UDP port than the
#   listening one (the kernel's socket table); an eleventh request gets ERROR 0
#   "Too Many Clients" and a "refused" line; blksize 8192 gets OACK 1024 and
#   the same bytes, with our own client, curl, atftp, busybox and Skerry's
#   --get/--put (tftp-hpa's client offers no options: it is served 512-byte
#   blocks, its port from the range too);
# - without range or cap, over the small-MTU link: blksize 1400 hangs at
#   block 1 (curl gives up); with nftables letting in only the listening
#   port, a transfer from a port the system chose is blocked;
# - range 50000:50009 and cap 952, the same firewall rule opening only the
#   listening port and the range: tftp-hpa, curl (blksize 1400), Skerry
#   (blksize 8192) fetch and send whole files over the small-MTU link.
set -euo pipefail
src=${TFTP_SOURCE_DIR:?}
build=${RUN_BUILD_DIR:?}
vantrel=$build/server/app/vantrel
skerry=$build/client/skerry
raw="python3 $src/tests/support/tftp_raw_client.py"
port=6969 low=50000 high=50009
cli=limits-$$
srv4=10.78.0.1 cli4=10.78.0.2

fail() { echo "FAIL: $*" >&2; exit 1; }

work=$(mktemp -d)
vpid=
cleanup() {
  if [ -n "$vpid" ] && kill -0 "$vpid" 2>/dev/null; then kill -KILL "$vpid" 2>/dev/null || true; fi
  ip netns del "$cli" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

for tool in nft curl atftp busybox tftp python3; do
  command -v $tool > /dev/null || fail "$tool is missing (scripts/setup.sh --test installs it)"
done

ip netns add "$cli"
ip link add srv0 type veth peer name cli0 netns "$cli"
ip addr add "$srv4/24" dev srv0
ip link set srv0 up
ip netns exec "$cli" ip link set lo up
ip netns exec "$cli" ip addr add "$cli4/24" dev cli0
ip netns exec "$cli" ip link set cli0 mtu 1000 up
on_client() { ip netns exec "$cli" "$@"; }

mkdir -p "$work/cfg/Brellin" "$work/out" "$work/in" "$work/c"
export XDG_CONFIG_HOME=$work/cfg
# No client limit (slider 5): only the transfer ports refuse.
cat > "$work/cfg/Brellin/Vantry.reg" <<STORE
REGEDIT4

[HKEY_CURRENT_USER\\Software\\Brellin\\Vantry]
"Port"="$port"
"nSliders"=dword:00000065
"bDelete"=dword:0000001e
STORE
head -c 2000 /dev/urandom > "$work/out/hold.bin"
head -c 200000 /dev/urandom > "$work/out/big.bin"
head -c 70001 /dev/urandom > "$work/c/up.bin"
cd "$work"

headless=(env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM XDG_CONFIG_HOME="$work/cfg")
listening() { ss -Hlun "sport = :$port" | grep -q ":$port"; }

start() {  # extra arguments
  "${headless[@]}" "$vantrel" --outbound "$work/out" --inbound "$work/in" "$@" > v.out 2> v.err &
  vpid=$!
  for _ in $(seq 1 150); do
    listening && return 0
    kill -0 $vpid 2>/dev/null || { cat v.err >&2; fail "the server ended early"; }
    sleep 0.1
  done
  cat v.err >&2
  fail "the server did not listen on port $port"
}

stop() {
  kill -TERM $vpid
  wait $vpid || fail "the server ended with status $?"
  vpid=
}

# Until the server holds no transfer socket (ended transfers are let go by
# its periodic check).
settled() {
  for _ in $(seq 1 100); do
    [ "$(ss -Huanp | grep -c "pid=$vpid,")" = 1 ] && return 0
    sleep 0.1
  done
  ss -Huanp >&2
  fail "the server still holds transfer sockets"
}

# ---- bad values: status 2 and the reason ----------------------------------------
while IFS='|' read -r args said; do
  status=0
  # shellcheck disable=SC2086
  "${headless[@]}" timeout 20 "$vantrel" $args > bad.out 2> bad.err || status=$?
  [ "$status" = 2 ] || { cat bad.err >&2; fail "vantrel $args ended with $status, not 2"; }
  grep -qF -- "$said" bad.err || { cat bad.err >&2; fail "vantrel $args did not say: $said"; }
done <<CASES
--port-range 50003:50000|--port-range: '50003:50000' is not N:M
--port-range 50000|--port-range: '50000' is not N:M
--port $port --port-range 6960:6970|--port-range: 6960:6970 holds the listening port $port.
--max-blksize 7|--max-blksize: '7' is not a block size from 8 to 65464.
--max-blksize 65465|--max-blksize: '65465' is not a block size from 8 to 65464.
CASES
"${headless[@]}" "$vantrel" --help > help.out
for option in --port-range --max-blksize; do
  grep -q -- "$option" help.out || fail "--help does not list $option"
done

# ---- range and cap on loopback ------------------------------------------------
echo "== range $low:$high, cap 1024, on loopback"
start --port-range $low:$high --max-blksize 1024
$raw hold 127.0.0.1 $port hold.bin 10 $low $high $vpid || fail "the held transfers"
grep -q "refused client=127.0.0.1:[0-9]* code=0 reason=\"Too Many Clients\"" v.err \
  || { cat v.err >&2; fail "no refused line for the full range"; }
grep "refused" v.err
settled
$raw hold ::1 $port hold.bin 10 $low $high $vpid || fail "the held transfers over IPv6"
settled
$raw fetch 127.0.0.1 $port big.bin 8192 1024 "$work/out/big.bin" || fail "the capped fetch"
settled

# A finished upload keeps its port a few seconds (it answers a repeat of its
# last block), so the three uploads below hold three ports for a while.
rm -f c/*.got in/*
timeout 60 curl -sS --max-time 50 --tftp-blksize 8192 -o c/curl.got "tftp://127.0.0.1:$port/big.bin" \
  || fail "curl --tftp-blksize 8192 get"
timeout 60 curl -sS --max-time 50 --tftp-blksize 8192 -T c/up.bin "tftp://127.0.0.1:$port/up-curl.bin" \
  || fail "curl --tftp-blksize 8192 put"
timeout 60 atftp --trace --option "blksize 8192" -g -r big.bin -l c/atftp.got 127.0.0.1 $port > atftp.out 2>&1 \
  || { cat atftp.out >&2; fail "atftp blksize 8192 get"; }
grep -q "blksize: 1024" atftp.out || { head -5 atftp.out >&2; fail "atftp did not see OACK blksize 1024"; }
grep -m1 "OACK" atftp.out
timeout 60 busybox tftp -b 8192 -g -r big.bin -l c/busybox.got 127.0.0.1 $port || fail "busybox -b 8192 get"
timeout 60 tftp -m binary 127.0.0.1 $port -c get big.bin c/tftp.got || fail "tftp-hpa get"
timeout 60 tftp -m binary 127.0.0.1 $port -c put c/up.bin up-tftp.bin || fail "tftp-hpa put"
timeout 60 "$skerry" --get "127.0.0.1:$port" big.bin c/skerry.got --blksize 8192 || fail "skerry --get --blksize 8192"
timeout 60 "$skerry" --put "127.0.0.1:$port" c/up.bin up-skerry.bin --blksize 8192 || fail "skerry --put --blksize 8192"
for got in c/curl.got c/atftp.got c/busybox.got c/tftp.got c/skerry.got; do
  cmp out/big.bin "$got" || fail "$got differs from the file served"
done
for sent in in/up-curl.bin in/up-tftp.bin in/up-skerry.bin; do
  cmp c/up.bin "$sent" || fail "$sent differs from the file sent"
done
echo "curl, atftp, busybox, tftp-hpa, skerry: byte-identical files under the cap"
stop
# The store keeps its own (unset) values for what the command line set.
for value in nPortRangeLow nPortRangeHigh nMaxBlksize; do
  grep -qF "\"$value\"=dword:00000000" "$work/cfg/Brellin/Vantry.reg" \
    || { cat "$work/cfg/Brellin/Vantry.reg" >&2; fail "the command line's $value reached the store"; }
done

# ---- no range, no cap: the small MTU and the firewall bite ---------------------
echo "== no range, no cap, over the link with MTU 1000"
start
status=0
on_client timeout 30 curl -sS --max-time 8 --tftp-blksize 1400 -o c/mtu.got "tftp://$srv4:$port/big.bin" 2> curl.err \
  || status=$?
[ $status != 0 ] || fail "blksize 1400 came through a link of MTU 1000"
echo "without the cap: curl --tftp-blksize 1400 over MTU 1000 gets nothing and gives up (status $status)"
on_client timeout 30 tftp -m binary $srv4 $port -c get big.bin c/plain.got || fail "tftp-hpa get over the link"
cmp out/big.bin c/plain.got || fail "c/plain.got differs"

# Only the listening port and the range are let in from the link.
nft -f - <<NFT
table inet tftp_limits {
  chain input {
    type filter hook input priority 0; policy accept;
    iifname "srv0" udp dport { $port, $low-$high } accept
    iifname "srv0" meta l4proto udp drop
  }
}
NFT
nft list table inet tftp_limits
status=0
on_client timeout 10 tftp -m binary $srv4 $port -c get big.bin c/blocked.got > /dev/null 2>&1 || status=$?
[ $status != 0 ] && ! cmp -s out/big.bin c/blocked.got \
  || fail "a transfer from a port the system chose came through the firewall"
echo "without the range: tftp-hpa through the firewall fails (status $status)"
stop

# ---- range and cap 952 through the firewall and the small MTU ----------------
echo "== range $low:$high, cap 952, through the firewall and the link with MTU 1000"
start --port-range $low:$high --max-blksize 952
rm -f c/*.got in/*
on_client $raw fetch $srv4 $port big.bin 1400 952 "$work/out/big.bin" || fail "the capped fetch over the link"
on_client timeout 60 tftp -m binary $srv4 $port -c get big.bin c/tftp.got || fail "tftp-hpa get through the firewall"
on_client timeout 60 tftp -m binary $srv4 $port -c put c/up.bin up-tftp.bin || fail "tftp-hpa put through the firewall"
on_client timeout 60 curl -sS --max-time 50 --tftp-blksize 1400 -o c/curl.got "tftp://$srv4:$port/big.bin" \
  || fail "curl --tftp-blksize 1400 get through the firewall"
on_client timeout 60 curl -sS --max-time 50 --tftp-blksize 1400 -T c/up.bin "tftp://$srv4:$port/up-curl.bin" \
  || fail "curl --tftp-blksize 1400 put through the firewall"
on_client timeout 60 "$skerry" --get "$srv4:$port" big.bin c/skerry.got --blksize 8192 || fail "skerry --get over the link"
on_client timeout 60 "$skerry" --put "$srv4:$port" c/up.bin up-skerry.bin --blksize 8192 || fail "skerry --put over the link"
for got in c/tftp.got c/curl.got c/skerry.got; do
  cmp out/big.bin "$got" || fail "$got differs from the file served"
done
for sent in in/up-tftp.bin in/up-curl.bin in/up-skerry.bin; do
  cmp c/up.bin "$sent" || fail "$sent differs from the file sent"
done
echo "tftp-hpa, curl, skerry: byte-identical files through the firewall over MTU 1000"
stop
echo "PASS"
