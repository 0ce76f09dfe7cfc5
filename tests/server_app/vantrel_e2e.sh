#!/usr/bin/env bash
# End to end, in a network namespace of its own: the README's run command
# (scripts/run.sh vantrel) starts the server with a store written beforehand
# (port 6969, the two folders, the client limit at its last position); tftp,
# curl and atftp each fetch and send a file, atftp once more asking for a
# window of 16 blocks, which the server grants; SIGTERM to the run command ends
# the server as File > Exit does: the rows are in the log, the settings and
# the window's rectangle in the store.
set -euo pipefail
src=${TFTP_SOURCE_DIR:?}
build=${RUN_BUILD_DIR:?}
host=10.9.9.1   # the namespace's only address besides loopback (the server listens on all)
port=6969

fail() { echo "FAIL: $*" >&2; exit 1; }

work=$(mktemp -d)
runpid=
cleanup() {
  if [ -n "$runpid" ] && kill -0 "$runpid" 2>/dev/null; then kill -KILL "$runpid" 2>/dev/null || true; fi
  rm -rf "$work"
}
trap cleanup EXIT

mkdir -p "$work/config/Brellin" "$work/out" "$work/in" "$work/client"
# nSliders 0x65: 5 clients position (no limit), 6 display position (100 rows).
# bDelete 0x1e: alert, tsize, timeout on; no splash.
cat > "$work/config/Brellin/Vantry.reg" <<STORE
REGEDIT4

[HKEY_CURRENT_USER\\Software\\Brellin\\Vantry]
"Port"="$port"
"InPath"="$work/in/"
"OutPath"="$work/out/"
"nSliders"=dword:00000065
"bDelete"=dword:0000001e
"nPriority"=dword:00000004
STORE

head -c 300000 /dev/urandom > "$work/out/down.bin"
head -c 123457 /dev/urandom > "$work/client/up.bin"

cd "$work"
XDG_CONFIG_HOME="$work/config" QT_QPA_PLATFORM=offscreen RUN_BUILD_DIR="$build" \
  "$src/scripts/run.sh" vantrel > "$work/run.out" 2>&1 &
runpid=$!

listening=0
for _ in $(seq 1 150); do
  if ss -Hlun "sport = :$port" | grep -q ":$port"; then listening=1; break; fi
  kill -0 "$runpid" 2>/dev/null || { cat "$work/run.out" >&2; fail "the run command ended early"; }
  sleep 0.2
done
[ "$listening" = 1 ] || { cat "$work/run.out" >&2; fail "the server did not listen on port $port"; }

c=$work/client
timeout 60 tftp -m binary "$host" "$port" -c get down.bin "$c/tftp.bin" || fail "tftp get"
timeout 60 tftp -m binary "$host" "$port" -c put "$c/up.bin" up-tftp.bin || fail "tftp put"
timeout 60 curl -sS -o "$c/curl.bin" "tftp://$host:$port/down.bin" || fail "curl get"
timeout 60 curl -sS -T "$c/up.bin" "tftp://$host:$port/up-curl.bin" || fail "curl put"
timeout 60 atftp -g -r down.bin -l "$c/atftp.bin" "$host" "$port" || fail "atftp get"
timeout 60 atftp -p -l "$c/up.bin" -r up-atftp.bin "$host" "$port" || fail "atftp put"
w=(--trace --option "windowsize 16")
timeout 60 atftp "${w[@]}" -g -r down.bin -l "$c/atftpw.bin" "$host" "$port" > "$work/atftpw.out" 2>&1 \
  || { cat "$work/atftpw.out" >&2; fail "atftp get with a window"; }
grep -q "received OACK <windowsize: 16" "$work/atftpw.out" || fail "no window granted to atftp's get"
timeout 60 atftp "${w[@]}" -p -l "$c/up.bin" -r up-atftpw.bin "$host" "$port" > "$work/atftpw.out" 2>&1 \
  || { cat "$work/atftpw.out" >&2; fail "atftp put with a window"; }
grep -q "received OACK <windowsize: 16" "$work/atftpw.out" || fail "no window granted to atftp's put"

for f in tftp curl atftp atftpw; do
  cmp "$work/out/down.bin" "$c/$f.bin" || fail "$f fetched a different file"
  cmp "$c/up.bin" "$work/in/up-$f.bin" || fail "$f sent a different file"
done

# The list reports ended transfers at its 5-second tick; give it two and some.
sleep 13

kill -TERM "$runpid"
ended=0
for _ in $(seq 1 150); do
  kill -0 "$runpid" 2>/dev/null || { ended=1; break; }
  sleep 0.2
done
[ "$ended" = 1 ] || fail "the server did not end on SIGTERM"
status=0
wait "$runpid" || status=$?
runpid=
[ "$status" = 0 ] || { cat "$work/run.out" >&2; fail "exit status $status"; }
ss -Hlun "sport = :$port" | grep -q . && fail "the port is still open"

# The log: the Ready row and eight finished transfers, one line each, CR LF.
log=$work/Orvane.log
[ -f "$log" ] || fail "no log in the folder the server was started from"
time='[0-9]{2} [A-Z][a-z]{2}, [0-9]{2}:[0-9]{2}'
cr=$'\r'
expected=(
  "^Vantrel  $time  Ready${cr}\$"
  "^$host $work/out/down.bin $time $time Finished : Sending${cr}\$"
  "^$host $work/in/up-tftp.bin $time $time Finished : Receiving${cr}\$"
  "^$host $work/out/down.bin $time $time Finished : Sending${cr}\$"
  "^$host $work/in/up-curl.bin $time $time Finished : Receiving${cr}\$"
  "^$host $work/out/down.bin $time $time Finished : Sending${cr}\$"
  "^$host $work/in/up-atftp.bin $time $time Finished : Receiving${cr}\$"
  "^$host $work/out/down.bin $time $time Finished : Sending${cr}\$"
  "^$host $work/in/up-atftpw.bin $time $time Finished : Receiving${cr}\$"
)
mapfile -t lines < "$log"
[ "${#lines[@]}" = "${#expected[@]}" ] || { cat -A "$log" >&2; fail "${#lines[@]} log lines"; }
for i in "${!expected[@]}"; do
  [[ "${lines[$i]}" =~ ${expected[$i]} ]] || { cat -A "$log" >&2; fail "log line $((i + 1))"; }
done

# The store: what was there, plus what the program writes at its end.
store=$(cat "$work/config/Brellin/Vantry.reg")
need() { grep -qF -- "$1" <<<"$store" || { echo "$store" >&2; fail "store lacks $1"; }; }
need '"Port"="6969"'
need "\"InPath\"=\"$work/in/\""
need "\"OutPath\"=\"$work/out/\""
need '"nSliders"=dword:00000065'
need '"bDelete"=dword:0000001e'
need '"LogFile"="Orvane.log"'
need '"WinLeft"=dword:'
need '"WinBottom"=dword:'
grep -qE '^"Location"=".*/vantrel"$' <<<"$store" || fail "store lacks the program's location"
echo "PASS: vantrel served tftp, curl and atftp (also with a window) and ended cleanly on SIGTERM"
