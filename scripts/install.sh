#!/usr/bin/env bash
# Builds the programs (Release) and installs them, and offers to let the
# server Vantrel listen on TFTP's own port 69 without running as root.
#
#   scripts/install.sh                       into /usr/local/bin; asks about port 69
#   scripts/install.sh --prefix ~/.local     into ~/.local/bin
#   scripts/install.sh --setcap              give the capability without asking
#   scripts/install.sh --no-setcap           never ask
#
# Ports below 1024 need a privilege on Linux. The capability
# cap_net_bind_service on the installed file grants exactly that one; it is
# lost whenever the file is replaced, so run this script again after a rebuild.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
cd "$top"

prefix=/usr/local
setcap_choice=ask
while [ $# -gt 0 ]; do
  case "$1" in
    --prefix) prefix=${2:?--prefix needs a folder}; shift 2 ;;
    --prefix=*) prefix=${1#--prefix=}; shift ;;
    --setcap) setcap_choice=yes; shift ;;
    --no-setcap) setcap_choice=no; shift ;;
    -h|--help) sed -n '2,13p' "$0"; exit 0 ;;
    *) echo "install: unknown argument $1" >&2; exit 2 ;;
  esac
done

SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO="sudo"

scripts/setup.sh
cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=Release -DTFTP_TESTS=OFF >/dev/null
cmake --build build/release -j "$(nproc)"

bindir="$prefix/bin"
# sudo only where the folder is not ours.
INSTALL_SUDO=""
if ! { mkdir -p "$bindir" 2>/dev/null && [ -w "$bindir" ]; }; then
  INSTALL_SUDO=$SUDO
  $INSTALL_SUDO mkdir -p "$bindir"
fi
for p in vantrel skerry; do
  bin=$(find build/release -maxdepth 3 -type f -name "$p" -perm -u+x | head -n 1)
  [ -n "$bin" ] || { echo "install: $p is not built in this version of the project"; continue; }
  $INSTALL_SUDO install -m 0755 "$bin" "$bindir/$p"
  echo "install: $bindir/$p"
done

if [ -x "$bindir/vantrel" ]; then
  if [ "$setcap_choice" = ask ]; then
    if [ -t 0 ]; then
      read -r -p "Let Vantrel listen on port 69 (setcap cap_net_bind_service=+ep $bindir/vantrel)? [y/N] " answer
      case "$answer" in [yY]*) setcap_choice=yes ;; *) setcap_choice=no ;; esac
    else
      setcap_choice=no
    fi
  fi
  if [ "$setcap_choice" = yes ]; then
    $SUDO setcap cap_net_bind_service=+ep "$bindir/vantrel"
    getcap "$bindir/vantrel"
  else
    echo "install: port 69 needs: sudo setcap cap_net_bind_service=+ep $bindir/vantrel"
    echo "         (or set another Port in ~/.config/Brellin/Vantry.reg, for example \"Port\"=\"6969\")"
  fi
fi
