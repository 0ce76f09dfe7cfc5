#!/usr/bin/env bash
# Builds the programs (Release) and installs them with the project's install
# rules: the programs, desktop entries, icons, AppStream data, man pages, the
# licence, and the service vantrel.service with its sysusers.d and tmpfiles.d
# entries (installed only: never enabled or started). Offers to let the
# server Vantrel listen on TFTP's own port 69 without running as root.
#
#   scripts/install.sh                       into /usr/local; asks about port 69
#   scripts/install.sh --prefix ~/.local     into ~/.local
#   scripts/install.sh --setcap              give the capability without asking
#   scripts/install.sh --no-setcap           never ask
#   scripts/install.sh --uninstall           remove what the last install put
#                                            there (with the same --prefix)
#
# Ports below 1024 need a privilege on Linux. The capability
# cap_net_bind_service on the installed file grants exactly that one; it is
# lost whenever the file is replaced, so run this script again after a rebuild.
# A Debian package of the same content: scripts/package.sh builds and checks
# one (cpack -G DEB).
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
cd "$top"

prefix=/usr/local
setcap_choice=ask
uninstall=0
while [ $# -gt 0 ]; do
  case "$1" in
    --prefix) prefix=${2:?--prefix needs a folder}; shift 2 ;;
    --prefix=*) prefix=${1#--prefix=}; shift ;;
    --setcap) setcap_choice=yes; shift ;;
    --no-setcap) setcap_choice=no; shift ;;
    --uninstall) uninstall=1; shift ;;
    -h|--help) sed -n '2,18p' "$0"; exit 0 ;;
    *) echo "install: unknown argument $1" >&2; exit 2 ;;
  esac
done
prefix=$(realpath -m "$prefix")

SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO="sudo"
# sudo only where the folder is not ours.
INSTALL_SUDO=""
if ! { mkdir -p "$prefix" 2>/dev/null && [ -w "$prefix" ]; }; then INSTALL_SUDO=$SUDO; fi

# The list of what was installed, kept beside the build for --uninstall.
build=build/install
manifest_dir="$top/$build/manifests"
manifest="$manifest_dir/$(printf '%s' "$prefix" | tr '/' '_').txt"

if [ $uninstall -eq 1 ]; then
  [ -f "$manifest" ] || { echo "install: nothing recorded as installed under $prefix" >&2; exit 1; }
  # The manifest's last line has no newline of its own.
  while IFS= read -r file || [ -n "$file" ]; do
    $INSTALL_SUDO rm -f "$file"
    echo "install: removed $file"
    # Folders the install made and left empty go too (never the prefix itself).
    dir=$(dirname "$file")
    while [ "$dir" != "$prefix" ] && [ "${dir#"$prefix"/}" != "$dir" ]; do
      $INSTALL_SUDO rmdir "$dir" 2>/dev/null || break
      dir=$(dirname "$dir")
    done
  done < "$manifest"
  # The icon and desktop caches, where the system keeps them.
  if command -v gtk-update-icon-cache >/dev/null && [ -d "$prefix/share/icons/hicolor" ]; then
    $INSTALL_SUDO gtk-update-icon-cache -q -t "$prefix/share/icons/hicolor" 2>/dev/null || true
  fi
  rm -f "$manifest"
  exit 0
fi

scripts/setup.sh
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DTFTP_TESTS=OFF \
  -DCMAKE_INSTALL_PREFIX="$prefix" >/dev/null
cmake --build "$build" -j "$(nproc)" --target vantrel skerry vantrel_man skerry_man
$INSTALL_SUDO cmake --install "$build" --strip
mkdir -p "$manifest_dir"
cp "$build/install_manifest.txt" "$manifest"
echo "install: $(grep -c '' "$manifest") files under $prefix (scripts/install.sh --uninstall --prefix $prefix removes them)"
if command -v gtk-update-icon-cache >/dev/null && [ -f "$prefix/share/icons/hicolor/index.theme" ]; then
  $INSTALL_SUDO gtk-update-icon-cache -q -t "$prefix/share/icons/hicolor" 2>/dev/null || true
fi

if [ -f "$prefix/lib/systemd/system/vantrel.service" ]; then
  echo "install: $prefix/lib/systemd/system/vantrel.service is installed, not enabled; to run it:"
  echo "         sudo systemd-sysusers vantrel.conf && sudo systemd-tmpfiles --create vantrel.conf"
  echo "         sudo systemctl daemon-reload && sudo systemctl enable --now vantrel"
fi

bindir="$prefix/bin"
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
    command -v setcap >/dev/null || $SUDO apt-get install -y -qq --no-install-recommends libcap2-bin
    $SUDO setcap cap_net_bind_service=+ep "$bindir/vantrel"
    getcap "$bindir/vantrel"
  else
    echo "install: port 69 needs: sudo setcap cap_net_bind_service=+ep $bindir/vantrel"
    echo "         (or set another Port in ~/.config/Brellin/Vantry.reg, for example \"Port\"=\"6969\")"
  fi
fi
