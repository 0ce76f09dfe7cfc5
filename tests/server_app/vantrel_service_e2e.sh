#!/usr/bin/env bash
# The server as a service runs it, and Skerry's command line, in a network
# namespace of its own, with the real programs as a user types them:
# - bad command-line values end with status 2 and their reason, and nothing
#   listens;
# - with no display at all the server starts headless (one line says so),
#   tells the service manager READY=1 once it listens (a notify socket of the
#   test's own), serves tftp-hpa and skerry --get/--put, and writes one line
#   per row end, refusal and ERROR on standard error;
# - SIGHUP applies a port changed in the store; SIGTERM ends it with status 0
#   and the command line's values never reach the store;
# - --read-only refuses uploads with ERROR 2; --remap serves a rewritten name
#   to tftp-hpa (and refuses one that a rule leads out of the folder), its
#   line names what was asked, and the rules never reach the store;
# - skerry --get/--put against tftpd-hpa: the whole file and status 0; a
#   missing file: status 1 and no file left, an existing one untouched.
set -euo pipefail
src=${TFTP_SOURCE_DIR:?}
build=${RUN_BUILD_DIR:?}
vantrel=$build/server/app/vantrel
skerry=$build/client/skerry
port=6969
fail() { echo "FAIL: $*" >&2; exit 1; }

work=$(mktemp -d)
pids=()
cleanup() {
  for p in "${pids[@]}"; do { kill -TERM "$p" && wait "$p"; } 2>/dev/null || true; done
  rm -rf "$work"
}
trap cleanup EXIT

mkdir -p "$work/cfg/Brellin" "$work/out" "$work/in" "$work/c"
# Skerry reads its settings file from here too; nothing of the user's is read.
export XDG_CONFIG_HOME=$work/cfg
store=$work/cfg/Brellin/Vantry.reg
write_store() {  # port
  cat > "$store" <<STORE
REGEDIT4

[HKEY_CURRENT_USER\\Software\\Brellin\\Vantry]
"Port"="$1"
"nSliders"=dword:00000065
"bDelete"=dword:0000001e
STORE
}
write_store $port
head -c 300000 /dev/urandom > "$work/out/down.bin"
head -c 70001 /dev/urandom > "$work/c/up.bin"
cd "$work"

# As under a service manager or over SSH: no display of any kind.
# (env execs the program: $! is the server's own pid, which the signals reach.)
headless=(env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM XDG_CONFIG_HOME="$work/cfg")
listening_on() { ss -Hlun "sport = :$1" | awk '{print $4}' | head -n1; }
wait_listening() {  # port, pid
  for _ in $(seq 1 150); do
    [ -n "$(listening_on "$1")" ] && return 0
    kill -0 "$2" 2>/dev/null || return 1
    sleep 0.1
  done
  return 1
}
wait_gone() {  # pid
  for _ in $(seq 1 150); do kill -0 "$1" 2>/dev/null || return 0; sleep 0.1; done
  return 1
}

# ---- bad values: status 2, the reason, nothing listens ------------------------
printf '# fine\n(\tx\n' > "$work/badrules"
while IFS='|' read -r args said; do
  status=0
  # shellcheck disable=SC2086
  "${headless[@]}" timeout 20 "$vantrel" $args > bad.out 2> bad.err || status=$?
  [ "$status" = 2 ] || { cat bad.err >&2; fail "vantrel $args ended with $status, not 2"; }
  grep -qF -- "$said" bad.err || { cat bad.err >&2; fail "vantrel $args did not say: $said"; }
  [ -z "$(listening_on $port)" ] || fail "vantrel $args left a port open"
done <<CASES
--port 0|--port: '0' is not a port number from 1 to 65535.
--port 70000|--port: '70000' is not a port number from 1 to 65535.
--outbound $work/nowhere|--outbound: no such folder: $work/nowhere
--inbound $work/out/down.bin|--inbound: not a folder: $work/out/down.bin
--serve-forever|Unknown option 'serve-forever'.
--remap $work/badrules|--remap: $work/badrules: line 2: missing closing parenthesis at offset 1
CASES
"${headless[@]}" "$vantrel" --help > help.out
for option in --port --outbound --inbound --read-only --remap; do
  grep -q -- "$option" help.out || fail "--help does not list $option"
done

# ---- headless start, ready when listening ---------------------------------------
python3 - "$work/notify" > notify.log <<'PY' &
import socket, sys
s = socket.socket(socket.AF_UNIX, socket.SOCK_DGRAM)
s.bind(sys.argv[1])
s.settimeout(120)
while True:
    try:
        data = s.recv(4096)
    except socket.timeout:
        break
    print(data.decode(), flush=True)
PY
pids+=($!)
for _ in $(seq 1 50); do [ -S "$work/notify" ] && break; sleep 0.1; done
NOTIFY_SOCKET=$work/notify "${headless[@]}" "$vantrel" --outbound "$work/out" --inbound "$work/in" > v.out 2> v.err &
vpid=$!
pids+=($vpid)
ready=0
for _ in $(seq 1 150); do
  grep -qx 'READY=1' notify.log && { ready=1; break; }
  kill -0 $vpid 2>/dev/null || { cat v.err >&2; fail "the server ended early"; }
  sleep 0.1
done
[ $ready = 1 ] || { cat v.err >&2; fail "no READY=1 from the server"; }
at=$(listening_on $port)
[ -n "$at" ] || fail "READY=1 came before the server listened"
host=${at%:*}
# On every address the socket shows as "*": ask the namespace's own address.
case $host in '*'|'[::]'|0.0.0.0) host=10.9.9.1 ;; esac
grep -qx 'Vantrel: no display: running headless on the offscreen platform' v.err \
  || { cat v.err >&2; fail "no line about the headless start"; }

timeout 60 tftp -m binary "$host" $port -c get down.bin "$work/c/tftp.bin" || fail "tftp get"
cmp "$work/out/down.bin" "$work/c/tftp.bin" || fail "tftp fetched another file"
timeout 60 "$skerry" --get "$host:$port" down.bin "$work/c/skerry.bin" --blksize 1428 --windowsize 8 \
  || fail "skerry --get from vantrel"
cmp "$work/out/down.bin" "$work/c/skerry.bin" || fail "skerry fetched another file"
timeout 60 "$skerry" --put "$host:$port" "$work/c/up.bin" up-skerry.bin || fail "skerry --put to vantrel"
cmp "$work/c/up.bin" "$work/in/up-skerry.bin" || fail "skerry sent another file"
status=0
timeout 60 "$skerry" --get "$host:$port" missing.bin "$work/c/missing.bin" 2> sk.err || status=$?
[ $status = 1 ] || fail "skerry --get of a missing file ended with $status"
grep -qx 'skerry: server: File not found' sk.err || { cat sk.err >&2; fail "skerry did not tell the server's text"; }
[ ! -e "$work/c/missing.bin" ] || fail "a failed skerry --get left a file"
status=0
timeout 60 "$skerry" --get "$host:0" down.bin 2> sk.err || status=$?
[ $status = 2 ] || fail "skerry with port 0 ended with $status"

# One line per event, written when it happened.
for _ in $(seq 1 50); do [ "$(grep -c '^Vantrel: end ' v.err)" -ge 4 ] && break; sleep 0.1; done
line() { grep -qE "$1" v.err || { cat v.err >&2; fail "no line like: $1"; }; }
c='client=[0-9.]+:[0-9]+'
line "^Vantrel: end $c file=\"$work/out/down.bin\" direction=sending bytes=300000 result=\"Finished\" seconds=[0-9]+\.[0-9]\$"
line "^Vantrel: end $c file=\"$work/in/up-skerry.bin\" direction=receiving bytes=70001 result=\"Finished\" seconds=[0-9]+\.[0-9]\$"
line "^Vantrel: error $c code=1 reason=\"File not found\"\$"
line "^Vantrel: end $c file=\"$work/out/missing.bin\" direction=sending bytes=0 result=\"File not found\" seconds=[0-9]+\.[0-9]\$"
[ "$(grep -c "down.bin\" direction=sending" v.err)" = 2 ] || fail "not one line per download"

# ---- SIGHUP: the store's new port, as OK in the options sheet would -------------
write_store 7070
kill -HUP $vpid
wait_listening 7070 $vpid || { cat v.err >&2; fail "SIGHUP did not move the server to port 7070"; }
[ -z "$(listening_on $port)" ] || fail "the old port is still open after SIGHUP"
grep -qx 'RELOADING=1' notify.log || fail "no RELOADING=1"
[ "$(grep -cx 'READY=1' notify.log)" = 2 ] || fail "no READY=1 after the reload"
timeout 60 "$skerry" --get "$host:7070" down.bin "$work/c/again.bin" || fail "skerry --get after SIGHUP"
cmp "$work/out/down.bin" "$work/c/again.bin" || fail "fetched another file after SIGHUP"

# ---- SIGTERM: status 0, and the command line's folders never stored -------------
kill -TERM $vpid
wait_gone $vpid || fail "the server did not end on SIGTERM"
status=0
wait $vpid || status=$?
[ $status = 0 ] || { cat v.err >&2; fail "SIGTERM: exit status $status"; }
grep -qx 'STOPPING=1' notify.log || fail "no STOPPING=1"
grep -qF '"Port"="7070"' "$store" || fail "the store lost its port"
grep -qF "$work/out" "$store" && fail "the command line's outbound folder reached the store"
grep -qF "$work/in" "$store" && fail "the command line's inbound folder reached the store"
grep -qF 'Finished : Sending' Orvane.log || fail "no row in the log"

# ---- --read-only, --port and --remap: uploads refused, names rewritten, nothing stored
printf '(?i)^/?tftpboot/down\\.bin$\tdown.bin\tstop\n^secret$\t../in/up-skerry.bin\tstop\n' > "$work/rules"
"${headless[@]}" "$vantrel" --port 6971 --outbound "$work/out" --inbound "$work/in" --read-only \
  --remap "$work/rules" > r.out 2> r.err &
rpid=$!
pids+=($rpid)
wait_listening 6971 $rpid || { cat r.err >&2; fail "--port 6971 not listening"; }
cp "$work/in/up-skerry.bin" "$work/c/before.bin"
status=0
timeout 60 "$skerry" --put "$host:6971" "$work/c/up.bin" up-skerry.bin 2> sk.err || status=$?
[ $status = 1 ] || fail "skerry --put to a read-only server ended with $status"
grep -qx 'skerry: server: Access violation' sk.err || { cat sk.err >&2; fail "no Access violation"; }
cmp "$work/c/before.bin" "$work/in/up-skerry.bin" || fail "a refused upload changed the file"
timeout 60 tftp -m binary "$host" 6971 -c get /TFTPBOOT/Down.bin "$work/c/remapped.bin" || fail "tftp get of a rewritten name"
cmp "$work/out/down.bin" "$work/c/remapped.bin" || fail "the rewritten name served another file"
rm -f "$work/c/outside.bin"
timeout 60 tftp -m binary "$host" 6971 -c get secret "$work/c/outside.bin" > hpa.out 2>&1 || true
grep -q 'File not found' hpa.out || { cat hpa.out >&2; fail "a rule leading out of the folder was not refused"; }
cmp -s "$work/in/up-skerry.bin" "$work/c/outside.bin" && fail "a rule led a name out of the folder"
kill -TERM $rpid
wait $rpid || fail "the read-only run did not end with status 0"
grep -qE "^Vantrel: error client=[0-9.]+:[0-9]+ code=2 reason=\"Access violation\"\$" r.err || fail "no error line"
grep -qF '"Port"="7070"' "$store" || fail "--port reached the store"
grep -qF '"bRefuseUploads"=dword:00000000' "$store" || fail "--read-only reached the store"
grep -qE "^Vantrel: end client=[0-9.]+:[0-9]+ file=\"$work/out/down.bin\" requested=\"/TFTPBOOT/Down.bin\" direction=sending bytes=300000 result=\"Finished\"" r.err \
  || { cat r.err >&2; fail "no line with the rewritten name"; }
grep -qF '"nRemap"=dword:00000000' "$store" || fail "--remap reached the store"
grep -qF 'RemapPattern' "$store" && fail "--remap's rules reached the store"

# ---- skerry against tftpd-hpa ---------------------------------------------------
tftpd=${TFTP_IN_TFTPD:-$src/.peers/tftpd-hpa/usr/sbin/in.tftpd}
[ -x "$tftpd" ] || fail "tftpd-hpa is not unpacked in .peers (scripts/setup.sh --test)"
mkdir -p "$work/root"
chmod 0777 "$work/root"
cp "$work/out/down.bin" "$work/root/"
"$tftpd" -L -4 -a "$host:6980" -s -c -u nobody -U 000 "$work/root" 2> tftpd.err &
pids+=($!)
wait_listening 6980 $! || { cat tftpd.err >&2; fail "tftpd-hpa did not listen"; }
timeout 60 "$skerry" --get "$host:6980" down.bin "$work/c/hpa.bin" || fail "skerry --get from tftpd-hpa"
cmp "$work/out/down.bin" "$work/c/hpa.bin" || fail "skerry fetched another file from tftpd-hpa"
timeout 60 "$skerry" --put "$host:6980" "$work/c/up.bin" up.bin --blksize 1024 || fail "skerry --put to tftpd-hpa"
cmp "$work/c/up.bin" "$work/root/up.bin" || fail "tftpd-hpa stored another file"
echo "keep me" > "$work/c/kept.bin"
status=0
timeout 60 "$skerry" --get "$host:6980" none.bin "$work/c/kept.bin" 2> sk.err || status=$?
[ $status = 1 ] || fail "skerry --get of a missing file from tftpd-hpa ended with $status"
grep -q '^skerry: server: ' sk.err || { cat sk.err >&2; fail "no server text from tftpd-hpa"; }
[ "$(cat "$work/c/kept.bin")" = "keep me" ] || fail "a failed --get changed an existing file"
[ -z "$(find "$work/c" -name '.kept.bin*')" ] || fail "a failed --get left its part file"
echo "PASS: headless vantrel served, reloaded on SIGHUP, ended with 0 on SIGTERM; skerry --get/--put against vantrel and tftpd-hpa"
