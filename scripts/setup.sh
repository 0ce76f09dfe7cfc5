#!/usr/bin/env bash
# Installs the Debian packages the project needs, in layers. Idempotent, and
# offline when everything is present: apt-get runs only for what is missing.
#
#   scripts/setup.sh              building and running the programs
#   scripts/setup.sh --test       also the tests' and benchmarks' tools and peers
#   scripts/setup.sh --package    also what builds and checks the Debian package
#
# No TFTP service is ever installed: the two TFTP servers the tests run by
# hand (tftpd-hpa's in.tftpd and atftpd) are unpacked from their packages into
# .peers/ beside the checkout, never installed, so nothing listens on port 69
# and nothing starts at boot.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)

want_test=0
want_package=0
for arg in "$@"; do
  case "$arg" in
    --test) want_test=1 ;;
    --package) want_package=1 ;;
    -h|--help) sed -n '2,12p' "$0"; exit 0 ;;
    *) echo "setup: unknown argument $arg" >&2; exit 2 ;;
  esac
done

# Building and running.
packages=(
  build-essential cmake ninja-build pkg-config
  qt6-base-dev qt6-base-dev-tools libqt6opengl6-dev libgl-dev
  libsimpleini-dev libpcre2-dev
  fonts-dejavu-core
)
# Tests, fuzzing, screenshots and benchmarks: the compilers and libraries,
# the TFTP clients, the tools the scripts drive, and what the unpacked
# servers link against (libwrap0).
if [ $want_test -eq 1 ]; then
  packages+=(
    libgtest-dev libgmock-dev googletest ccache
    clang-14 libclang-rt-14-dev
    tftp-hpa atftp busybox curl dnsmasq-base libwrap0
    iproute2 util-linux procps python3 nftables
    xvfb xauth x11-apps imagemagick xdotool libcap2-bin twm xfonts-base
    systemd
  )
fi
# The package and its checks: dpkg-shlibdeps (dpkg-dev), the validators,
# lintian, man, and the icon renderer.
if [ $want_package -eq 1 ]; then
  packages+=(dpkg-dev file desktop-file-utils appstream lintian man-db librsvg2-bin)
fi

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done

SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO="sudo"
export DEBIAN_FRONTEND=noninteractive

updated=0
apt_update() {
  [ $updated -eq 1 ] || $SUDO apt-get -o DPkg::Lock::Timeout=600 update -qq
  updated=1
}

if [ ${#missing[@]} -gt 0 ]; then
  echo "setup: installing ${missing[*]}"
  # Install from the lists already present; refresh them only if that fails.
  # Another apt at work holds the lock: wait for it rather than fail.
  $SUDO apt-get -o DPkg::Lock::Timeout=600 install -y -qq --no-install-recommends "${missing[@]}" 2>/dev/null || {
    apt_update
    $SUDO apt-get -o DPkg::Lock::Timeout=600 install -y -qq --no-install-recommends "${missing[@]}"
  }
fi

# A server package unpacked into .peers/NAME: its files only, no maintainer
# scripts, no service, no user. Run by hand from there.
unpack_peer() {  # package, program inside it
  local package=$1 program=$2 dir="$top/.peers/$1"
  [ -x "$dir/$program" ] && return 0
  mkdir -p "$top/.peers"
  local scratch
  rm -rf "$top"/.peers/.download.*
  scratch=$(mktemp -d "$top/.peers/.download.XXXXXX")
  if ! ( cd "$scratch" && apt-get download "$package" >/dev/null 2>&1 ); then
    apt_update || true
    ( cd "$scratch" && apt-get download "$package" ) || {
      rm -rf "$scratch"
      echo "setup: could not download $package (is the network reachable?)" >&2
      exit 1
    }
  fi
  rm -rf "$dir"
  dpkg-deb -x "$scratch"/"${package}"_*.deb "$dir"
  rm -rf "$scratch"
  [ -x "$dir/$program" ] || { echo "setup: $package has no $program" >&2; exit 1; }
}

if [ $want_test -eq 1 ]; then
  unpack_peer atftpd usr/sbin/atftpd
  unpack_peer tftpd-hpa usr/sbin/in.tftpd
fi
echo "setup: ready"
