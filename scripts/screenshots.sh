#!/usr/bin/env bash
# Pictures of the programs on a virtual X display (Xvfb), into docs/screenshots/.
#
#   scripts/screenshots.sh            every program that has pictures
#   scripts/screenshots.sh vantrel    the server only
#   scripts/screenshots.sh skerry     the client only
#   scripts/screenshots.sh --dark [vantrel|skerry]
#                                     the same under the Fusion style with a
#                                     dark palette, into docs/screenshots/dark/
#
# Skerry: the real program in a network namespace of its own against
# tftpd-hpa: after a fetch (Done), a fetch aborted part of the way, a fetch
# the server refuses (its message), and its Options > Setup sheet.
# Vantrel: the real program in a network namespace of its own, with real
# clients (tftp-hpa, atftp) driving its rows: the splash at start, the
# "Executive decision time ..." dialog of Stop Serving while a transfer runs,
# and the main window with a finished, a failed (timed out), an abandoned
# (dropped by that dialog) and a running row (a bar in graphic mode).
# Needs root (a network and a mount namespace of its own; /srv must exist).
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
cd "$top"
shots="$top/docs/screenshots"
style_env=()
if [ "${1:-}" = "--dark" ]; then
  shift
  shots="$top/docs/screenshots/dark"
fi
build=${SCREENSHOT_BUILD_DIR:-build/release}
# Xvfb, xdotool, the TFTP clients and tftpd-hpa unpacked into .peers.
scripts/setup.sh --test
in_tftpd="$top/.peers/tftpd-hpa/usr/sbin/in.tftpd"

build_target() {  # target
  if [ -z "${SCREENSHOT_BUILD_DIR:-}" ]; then
    cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=Release -DTFTP_TESTS=OFF >/dev/null
  fi
  cmake --build "$build" --target "$1" -j2
}

# --- Vantrel -----------------------------------------------------------------

vantrel_scene() {  # runs inside the namespace and the X display
  set -euo pipefail
  # Globals: the exit trap needs them after this function has returned.
  bin=$1
  work=$(mktemp -d)
  host=10.9.9.1
  port=6969
  server=""
  pids=()
  ip link set lo up
  ip addr add "$host/32" dev lo
  mkdir -p "$work/config/Brellin"
  # Graphic mode (0x40) with tsize, timeout and the alert; the splash shows.
  cat > "$work/config/Brellin/Vantry.reg" <<STORE
REGEDIT4

[HKEY_CURRENT_USER\\Software\\Brellin\\Vantry]
"Port"="$port"
"OutPath"="/srv/tftp/"
"InPath"="/srv/tftp/incoming/"
"nSliders"=dword:00000065
"bDelete"=dword:0000004e
"WinLeft"=dword:00000014
"WinTop"=dword:00000014
"WinRight"=dword:000002da
"WinBottom"=dword:0000015e
STORE
  # The folders the window shows are the customary ones: a scratch file
  # system over /srv, in this mount namespace only.
  mount -t tmpfs -o size=256m vantrel-shots /srv
  mkdir -p /srv/tftp/incoming
  head -c 2000 /dev/urandom > /srv/tftp/pxelinux.0
  head -c $((40 * 1024 * 1024)) /dev/zero > /srv/tftp/debian-installer.iso
  head -c $((24 * 1024 * 1024)) /dev/zero > /srv/tftp/initrd.img
  head -c $((8 * 1024 * 1024)) /dev/zero > "$work/config.tar"

  cleanup() {
    for p in "${pids[@]}"; do kill -CONT "$p" 2>/dev/null || true; kill -KILL "$p" 2>/dev/null || true; done
    if [ -n "$server" ]; then kill -TERM "$server" 2>/dev/null || true; wait "$server" 2>/dev/null || true; fi
    umount /srv 2>/dev/null || true
    rm -rf "$work"
  }
  trap cleanup EXIT

  (cd "$work" && XDG_CONFIG_HOME="$work/config" exec "$bin") > "$work/server.out" 2>&1 &
  server=$!
  local window=""
  for _ in $(seq 1 100); do
    window=$(xdotool search --name '^Vantrel - ' 2>/dev/null | head -n 1 || true)
    [ -n "$window" ] && ss -Hlun "sport = :$port" | grep -q . && break
    sleep 0.2
  done
  [ -n "$window" ] || { cat "$work/server.out" >&2; echo "screenshots: no Vantrel window" >&2; return 1; }
  sleep 1

  # The splash: the window of 420 x 240 over the main window.
  local splash=""
  for w in $(xdotool search --pid "$server" 2>/dev/null); do
    if xdotool getwindowgeometry "$w" 2>/dev/null | grep -q 'Geometry: 420x240'; then splash=$w; fi
  done
  if [ -n "$splash" ]; then
    import -window root "$work/root.png"
    eval "$(xdotool getwindowgeometry --shell "$splash")"
    convert "$work/root.png" -crop "${WIDTH}x${HEIGHT}+${X}+${Y}" +repage "$shots/vantrel-splash.png"
  fi
  # Any key hides the splash (and is used up).
  xdotool windowfocus --sync "$window" key Escape
  sleep 0.5

  # A finished download.
  tftp -m binary "$host" "$port" -c get pxelinux.0 "$work/pxelinux.0"
  # An upload whose client vanishes: timed out after its own 1-second time-out.
  atftp --option "timeout 1" -p -l "$work/config.tar" -r config.tar "$host" "$port" >/dev/null 2>&1 &
  local up=$!
  sleep 0.3
  kill -KILL "$up" 2>/dev/null || true
  wait "$up" 2>/dev/null || true

  # A download held still part of the way: running when serving stops.
  stalled() {  # file, local copy, bytes to wait for
    tftp -m binary "$host" "$port" -c get "$1" "$2" >/dev/null 2>&1 &
    local pid=$!
    for _ in $(seq 1 400); do
      [ "$(stat -c %s "$2" 2>/dev/null || echo 0)" -ge "$3" ] && break
      sleep 0.02
    done
    kill -STOP "$pid"
    pids+=("$pid")
  }
  stalled debian-installer.iso "$work/d1.iso" $((9 * 1024 * 1024))
  sleep 6   # a tick of the list reports the finished and the failed transfer

  # Stop Serving while a transfer runs: the decision dialog.
  xdotool windowfocus --sync "$window" key ctrl+s
  local dialog=""
  for _ in $(seq 1 50); do
    dialog=$(xdotool search --name '^Executive decision time' 2>/dev/null | head -n 1 || true)
    [ -n "$dialog" ] && break
    sleep 0.1
  done
  [ -n "$dialog" ] || { echo "screenshots: no decision dialog" >&2; return 1; }
  sleep 0.5
  import -window "$dialog" "$shots/vantrel-decision.png"
  # Drop Clients (the default button): the held transfer is dropped.
  xdotool windowfocus --sync "$dialog" key Return
  sleep 6   # the next quiet tick turns its row yellow
  xdotool windowfocus --sync "$window" key ctrl+g

  # A transfer running now, shown as a bar.
  stalled initrd.img "$work/d2.img" $((14 * 1024 * 1024))
  sleep 1
  import -window "$window" "$shots/vantrel-main.png"
  echo "screenshots: $(cd "$shots" && ls vantrel-*.png | tr '\n' ' ')"
}

# --- Skerry ------------------------------------------------------------------

skerry_scene() {  # runs inside the namespace and the X display
  set -euo pipefail
  bin=$1
  work=$(mktemp -d)
  host=10.9.9.1
  server=""
  client=""
  ip link set lo up
  ip addr add "$host/32" dev lo
  mkdir -p "$work/config" "$work/tftp"
  chmod 777 "$work/tftp"
  # The folders the sheet shows are customary ones: a scratch file system
  # over /srv, in this mount namespace only.
  mount -t tmpfs -o size=64m skerry-shots /srv
  mkdir -p /srv/transfers/in /srv/transfers/out
  head -c $((3 * 1024 * 1024 + 4321)) /dev/urandom > "$work/tftp/pxelinux.0"
  head -c $((12 * 1024 * 1024)) /dev/zero > "$work/tftp/debian-installer.iso"
  chmod 644 "$work/tftp/pxelinux.0" "$work/tftp/debian-installer.iso"
  cat > "$work/config/Skerry.INI" <<INI
[Options]
OverWrite=Yes
Inbound=/srv/transfers/in/
Outbound=/srv/transfers/out/
[Startup]
Host=$host
Local=pxelinux.0
Remote=pxelinux.0
INI
  cleanup() {
    if [ -n "$client" ]; then kill -TERM "$client" 2>/dev/null || true; wait "$client" 2>/dev/null || true; fi
    if [ -n "$server" ]; then kill -TERM "$server" 2>/dev/null || true; wait "$server" 2>/dev/null || true; fi
    umount /srv 2>/dev/null || true
    rm -rf "$work"
  }
  trap cleanup EXIT

  # A TFTP server on the namespace's own address, port 69, as on a real network.
  "$in_tftpd" -L -4 -a "$host:69" -s -c -B 65464 -u nobody -U 000 "$work/tftp" &
  server=$!
  (cd "$work" && XDG_CONFIG_HOME="$work/config" exec "$bin") > "$work/client.out" 2>&1 &
  client=$!
  local window=""
  for _ in $(seq 1 100); do
    window=$(xdotool search --pid "$client" --name ' - Halden$' 2>/dev/null | head -n 1 || true)
    [ -n "$window" ] && break
    sleep 0.2
  done
  [ -n "$window" ] || { cat "$work/client.out" >&2; echo "screenshots: no Skerry window" >&2; return 1; }
  sleep 1

  # Fetch: the focus starts in Host; ten Tabs reach the Fetch button.
  xdotool windowfocus --sync "$window"
  xdotool key --delay 50 Tab Tab Tab Tab Tab Tab Tab Tab Tab Tab space
  for _ in $(seq 1 100); do
    [ "$(stat -c %s /srv/transfers/in/pxelinux.0 2>/dev/null || echo 0)" -ge $((3 * 1024 * 1024 + 4321)) ] && break
    sleep 0.1
  done
  sleep 1
  import -window "$window" "$shots/skerry-main.png"

  # The focus stays on Fetch: five Shift+Tabs back reach Local File, whose
  # name Match Files copies into Remote File; five Tabs return to Fetch.
  fetch_as() {  # name
    xdotool windowfocus --sync "$window"
    xdotool key --delay 50 shift+Tab shift+Tab shift+Tab shift+Tab shift+Tab ctrl+a
    xdotool type --delay 20 "$1"
    xdotool key --delay 50 Tab Tab Tab Tab Tab space
  }
  # A large fetch, aborted part of the way with Enter on the Abort button.
  fetch_as debian-installer.iso
  for _ in $(seq 1 100); do
    [ "$(stat -c %s /srv/transfers/in/debian-installer.iso 2>/dev/null || echo 0)" -ge $((5 * 1024 * 1024)) ] && break
    sleep 0.05
  done
  xdotool key Tab Return
  sleep 1
  import -window "$window" "$shots/skerry-abort.png"

  # A file the server does not have: its message in the status line.
  xdotool key shift+Tab
  fetch_as no-such-file.bin
  sleep 1
  import -window "$window" "$shots/skerry-error.png"

  # Options > Setup: the "File Locations & Options" sheet.
  xdotool windowfocus --sync "$window" key alt+o
  sleep 0.5
  xdotool key s
  local sheet=""
  for _ in $(seq 1 50); do
    sheet=$(xdotool search --name '^File Locations & Options$' 2>/dev/null | head -n 1 || true)
    [ -n "$sheet" ] && break
    sleep 0.1
  done
  [ -n "$sheet" ] || { echo "screenshots: no Setup sheet" >&2; return 1; }
  sleep 0.5
  import -window "$sheet" "$shots/skerry-setup.png"
  xdotool windowfocus --sync "$sheet" key Escape
  echo "screenshots: $(cd "$shots" && ls skerry-*.png | tr '\n' ' ')"
}

# --- Either program ------------------------------------------------------------

# Builds one program and plays its scene in a network namespace of its own
# under Xvfb; the scene writes docs/screenshots/PROGRAM-*.png.
program_shots() {  # program (vantrel or skerry; its scene is PROGRAM_scene)
  local program=$1 bin
  build_target "$program"
  bin=$(find "$top/$build" -maxdepth 3 -type f -name "$program" -perm -u+x | head -n 1)
  [ -n "$bin" ] || { echo "screenshots: $program is not built" >&2; return 1; }
  mkdir -p "$shots"
  rm -f "$shots/$program"-*.png
  unshare --net --mount --propagation private \
    xvfb-run -a -s "-screen 0 1024x640x24" \
    env QT_QPA_PLATFORM=xcb DBUS_SESSION_BUS_ADDRESS=disabled: XDG_RUNTIME_DIR="$(mktemp -d)" \
    ${style_env[@]+"${style_env[@]}"} \
    bash -c "$(declare -f "${program}_scene"); shots='$shots'; in_tftpd='$in_tftpd'; ${program}_scene '$bin'"
}

if [ "$shots" = "$top/docs/screenshots/dark" ]; then
  # Fusion with a dark palette: a small style plugin, loaded by the programs' Qt.
  cmake -S scripts/dark-style -B build/dark-style -G Ninja >/dev/null
  cmake --build build/dark-style -j2 >/dev/null
  style_env=(QT_PLUGIN_PATH="$top/build/dark-style/plugins" QT_STYLE_OVERRIDE=DarkFusion)
fi

which=${1:-all}
case "$which" in
  vantrel|skerry) program_shots "$which" ;;
  all) program_shots vantrel; program_shots skerry ;;
  *) echo "usage: scripts/screenshots.sh [--dark] [vantrel|skerry]" >&2; exit 2 ;;
esac
