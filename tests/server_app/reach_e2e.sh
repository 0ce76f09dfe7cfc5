#!/usr/bin/env bash
# Every client reaches the real server, end to end. The test's namespace is
# the server's host, with loopback and a veth link to a second namespace, the
# client's host, each end holding an IPv4 and an IPv6 address. A store
# written by an older version (no listen choice) makes the server listen on
# every address: tftp-hpa, curl and Skerry's engine fetch and send through
# 127.0.0.1, localhost, ::1 and both addresses of the link from the other
# host; a client of our own checks that every answer comes from the address
# the request was sent to. Then a store whose user had settled on one
# address keeps it: that address is served, the others are not.
set -euo pipefail
vantrel=${VANTREL:?}
skerry=${BENCH_SKERRY:?}
check="${TFTP_SOURCE_DIR:?}/tests/support/tftp_source_check.py"
port=6969
cli=tftpcli-$$
srv4=10.77.0.1 srv6=fd77::1 cli4=10.77.0.2 cli6=fd77::2

fail() { echo "FAIL: $*" >&2; exit 1; }

work=$(mktemp -d)
pid=
cleanup() {
  if [ -n "$pid" ] && kill -0 "$pid" 2>/dev/null; then kill -KILL "$pid" 2>/dev/null || true; fi
  ip netns del "$cli" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

ip netns add "$cli"
ip link add srv0 type veth peer name cli0 netns "$cli"
ip addr add "$srv4/24" dev srv0
ip addr add "$srv6/64" dev srv0 nodad
ip link set srv0 up
ip netns exec "$cli" ip link set lo up
ip netns exec "$cli" ip addr add "$cli4/24" dev cli0
ip netns exec "$cli" ip addr add "$cli6/64" dev cli0 nodad
ip netns exec "$cli" ip link set cli0 up
on_client() { ip netns exec "$cli" "$@"; }

mkdir -p "$work/config/Brellin" "$work/out" "$work/in" "$work/c"
head -c 70000 /dev/urandom > "$work/out/down.bin"
head -c 45000 /dev/urandom > "$work/c/up.bin"

# bDelete 0x1e: alert, tsize, timeout on, no splash; 0x11e also hides the
# multihomed question (the user ticked "Do not show this box again").
store() {  # bDelete, extra lines
  cat > "$work/config/Brellin/Vantry.reg" <<STORE
REGEDIT4

[HKEY_CURRENT_USER\\Software\\Brellin\\Vantry]
"Port"="$port"
"InPath"="$work/in/"
"OutPath"="$work/out/"
"nSliders"=dword:00000065
"bDelete"=dword:$1
"nPriority"=dword:00000004
$2
STORE
}

start() {
  (cd "$work" && XDG_CONFIG_HOME="$work/config" QT_QPA_PLATFORM=offscreen exec "$vantrel") \
    > "$work/server.out" 2>&1 &
  pid=$!
  for _ in $(seq 1 100); do
    if ss -Hlun "sport = :$port" | grep -q ":$port"; then return 0; fi
    kill -0 "$pid" 2>/dev/null || { cat "$work/server.out" >&2; fail "the server ended early"; }
    sleep 0.1
  done
  cat "$work/server.out" >&2
  fail "the server did not listen on port $port"
}

stop() {
  kill -TERM "$pid"
  for _ in $(seq 1 100); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
  wait "$pid" || fail "the server ended with status $?"
  pid=
}

same() {  # expected, got, what
  cmp -s "$1" "$2" || fail "$3: the file differs"
  echo "ok: $3"
}

# ---- every address ----------------------------------------------------------
store 0000001e ""
start
echo "listening: $(ss -Hlun "sport = :$port" | awk '{print $4}' | tr '\n' ' ')"
ss -Hlun "sport = :$port" | grep -q "\[::\]:$port\|\*:$port" || fail "not listening on every address"

n=0
get_put() {  # label, command prefix (may be empty), then the client's own words
  local label=$1 where=$2 kind=$3 host=$4
  n=$((n + 1))
  local got="$work/c/got$n" name="up$n.bin"
  case $kind in
    tftp)
      timeout 30 $where tftp -m binary "$host" "$port" -c get down.bin "$got" || fail "$label get"
      timeout 30 $where tftp -m binary "$host" "$port" -c put "$work/c/up.bin" "$name" || fail "$label put" ;;
    curl)
      timeout 30 $where curl -sS -o "$got" "tftp://$host:$port/down.bin" || fail "$label get"
      timeout 30 $where curl -sS -T "$work/c/up.bin" "tftp://$host:$port/$name" || fail "$label put" ;;
    skerry)
      timeout 30 $where "$skerry" --host "$host" --port "$port" --blksize 1428 --get down.bin \
        --local "$got" > "$work/skerry.out" 2>&1 || { cat "$work/skerry.out" >&2; fail "$label get"; }
      timeout 30 $where "$skerry" --host "$host" --port "$port" --blksize 1428 --put "$name" \
        --local "$work/c/up.bin" > "$work/skerry.out" 2>&1 || { cat "$work/skerry.out" >&2; fail "$label put"; } ;;
  esac
  same "$work/out/down.bin" "$got" "$label get"
  same "$work/c/up.bin" "$work/in/$name" "$label put"
}

on_cli="ip netns exec $cli"
get_put "tftp 127.0.0.1" "" tftp 127.0.0.1
get_put "tftp localhost" "" tftp localhost
get_put "tftp ::1" "" tftp ::1
get_put "curl tftp://[::1]" "" curl "[::1]"
get_put "skerry 127.0.0.1" "" skerry 127.0.0.1
get_put "tftp $srv4 (other host)" "$on_cli" tftp "$srv4"
get_put "tftp $srv6 (other host)" "$on_cli" tftp "$srv6"
get_put "curl tftp://$srv4 (other host)" "$on_cli" curl "$srv4"
get_put "curl tftp://[$srv6] (other host)" "$on_cli" curl "[$srv6]"
get_put "skerry $srv4 (other host)" "$on_cli" skerry "$srv4"

for host in 127.0.0.1 ::1; do
  python3 "$check" get "$host" "$port" down.bin "$work/out/down.bin" || fail "answers to $host"
  python3 "$check" put "$host" "$port" "$work/c/up.bin" "src-$n.bin" || fail "answers to $host"
  n=$((n + 1))
done
for host in "$srv4" "$srv6"; do
  on_client python3 "$check" get "$host" "$port" down.bin "$work/out/down.bin" || fail "answers to $host"
  on_client python3 "$check" put "$host" "$port" "$work/c/up.bin" "src-$n.bin" || fail "answers to $host"
  n=$((n + 1))
done
stop

# ---- one address, settled on by the user of an older version -----------------
# The host's IPv4 list is 10.9.9.1 (test-only, on lo) then the link's address:
# the second is the one remembered.
store 0000011e '"nDefAddress"=dword:00000002'
start
bound=$(ss -Hlun "sport = :$port" | awk '{print $4}')
[ "$bound" = "$srv4:$port" ] || fail "one address: bound to '$bound', not $srv4:$port"
echo "ok: one address kept: $bound"
on_client python3 "$check" get "$srv4" "$port" down.bin "$work/out/down.bin" || fail "one address: $srv4"
for host in 127.0.0.1 ::1; do
  if timeout 20 python3 "$check" get "$host" "$port" down.bin "$work/out/down.bin" 2>/dev/null; then
    fail "one address: $host answered"
  fi
  echo "ok: one address: $host is not listened on"
done
stop
grep -q '"bListenAll"=dword:00000000' "$work/config/Brellin/Vantry.reg" || fail "the one-address choice was not stored"
echo "reach_e2e: all passed"
