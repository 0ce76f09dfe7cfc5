#!/usr/bin/env bash
# Installs every Debian package the build, the tests, the interop peers and
# the benchmarks need. Idempotent: packages already installed are skipped.
# Also unpacks atftpd (it conflicts with tftpd-hpa as a package) into
# .peers/atftpd without installing it.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)

packages=(
  build-essential cmake ninja-build pkg-config
  qt6-base-dev qt6-base-dev-tools libqt6opengl6-dev libgl-dev
  libgtest-dev libgmock-dev googletest
  clang-14 libclang-rt-14-dev
  libsimpleini-dev
  tftp-hpa tftpd-hpa atftp busybox curl dnsmasq-base
  iproute2 util-linux procps python3
  xvfb xauth x11-apps imagemagick xdotool libcap2-bin
  fonts-dejavu-core
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done

SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO="sudo"

if [ ${#missing[@]} -gt 0 ]; then
  echo "setup: installing ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  $SUDO apt-get update -qq
  # tftpd-hpa's package would start a system service on port 69; the tests
  # start their own servers by hand, so keep the service from starting.
  if [ ! -e /usr/sbin/policy-rc.d ]; then
    printf '#!/bin/sh\nexit 101\n' | $SUDO tee /usr/sbin/policy-rc.d >/dev/null
    $SUDO chmod +x /usr/sbin/policy-rc.d
    trap '$SUDO rm -f /usr/sbin/policy-rc.d' EXIT
  fi
  $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

# atftpd conflicts with tftpd-hpa: unpack it beside the checkout instead.
peers="$top/.peers"
if [ ! -x "$peers/atftpd/usr/sbin/atftpd" ]; then
  mkdir -p "$peers"
  ( cd "$peers" && rm -f atftpd_*.deb && apt-get download atftpd >/dev/null 2>&1 ) || {
    $SUDO apt-get update -qq && ( cd "$peers" && apt-get download atftpd ); }
  dpkg-deb -x "$peers"/atftpd_*.deb "$peers/atftpd"
  rm -f "$peers"/atftpd_*.deb
fi
echo "setup: ready"
