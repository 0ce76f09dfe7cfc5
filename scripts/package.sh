#!/usr/bin/env bash
# Builds the Debian package (cpack -G DEB, Release, no tests) and checks it:
# its fields and dependencies, its file list, the desktop entries, the
# AppStream data, both man pages, and both programs run from the unpacked
# tree. Needs no display and no network once the tools are present.
#
#   scripts/package.sh               build/package/vantrel-skerry_VERSION_ARCH.deb
#   PACKAGE_BUILD_DIR=dir scripts/package.sh
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
cd "$top"
build=${PACKAGE_BUILD_DIR:-build/package}

scripts/setup.sh --package
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DTFTP_TESTS=OFF \
  -DCMAKE_INSTALL_PREFIX=/usr >/dev/null
cmake --build "$build" -j "$(nproc)" --target vantrel skerry vantrel_man skerry_man
rm -f "$build"/*.deb
(cd "$build" && cpack -G DEB >/dev/null)
deb=$(ls "$build"/*.deb)

failures=0
fail() { echo "package: FAILED: $*" >&2; failures=$((failures + 1)); }
check() {  # what, command...
  local what=$1; shift
  local out
  if out=$("$@" 2>&1); then
    echo "package: ok   $what${out:+: $(printf '%s' "$out" | tr '\n' ' ' | cut -c1-200)}"
  else
    printf '%s\n' "$out" >&2
    fail "$what"
  fi
}

echo "package: $deb ($(stat -c %s "$deb") bytes)"
dpkg-deb -f "$deb" Package Version Architecture Installed-Size Depends Recommends | sed 's/^/package:   /'
depends=$(dpkg-deb -f "$deb" Depends)
for lib in libqt6widgets6 libqt6gui6 libqt6core6 libc6 libstdc++6; do
  case "$depends" in *"$lib"*) ;; *) fail "Depends lacks $lib" ;; esac
done
case "$depends" in *tftpd*) fail "Depends names a TFTP server" ;; esac

# The file list: the programs, their entries, icons, metainfo, man pages, licence.
listing=$(dpkg-deb -c "$deb" | awk '{print $NF}' | sed 's|^\./|/|')
expected=(
  /usr/bin/vantrel /usr/bin/skerry
  /usr/share/applications/org.brellin.Vantrel.desktop /usr/share/applications/org.brellin.Skerry.desktop
  /usr/share/metainfo/org.brellin.Vantrel.metainfo.xml /usr/share/metainfo/org.brellin.Skerry.metainfo.xml
  /usr/share/man/man1/vantrel.1.gz /usr/share/man/man1/skerry.1.gz
  /usr/share/icons/hicolor/scalable/apps/vantrel.svg /usr/share/icons/hicolor/scalable/apps/skerry.svg
  /usr/share/doc/vantrel-skerry/copyright /usr/share/doc/vantrel-skerry/LICENSE
)
for size in 16 22 24 32 48 64 128 256; do
  expected+=("/usr/share/icons/hicolor/${size}x${size}/apps/vantrel.png"
             "/usr/share/icons/hicolor/${size}x${size}/apps/skerry.png")
done
for f in "${expected[@]}"; do
  grep -qx -- "$f" <<<"$listing" || fail "the package lacks $f"
done
unexpected=$(grep -v -e '/$' <<<"$listing" | grep -v -e '^/usr/bin/' -e '^/usr/share/' || true)
[ -z "$unexpected" ] || fail "files outside /usr/bin and /usr/share: $unexpected"
echo "package: ok   file list ($(grep -vc '/$' <<<"$listing") files)"
dpkg-deb -c "$deb" | grep -v '/$' | awk '{print "package:   " $3 "  " $6}'

# Unpacked, the content checks.
root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
dpkg-deb -x "$deb" "$root"
check "desktop-file-validate" desktop-file-validate "$root"/usr/share/applications/*.desktop
check "appstreamcli validate" appstreamcli validate --no-net "$root"/usr/share/metainfo/*.xml
for page in vantrel skerry; do
  warnings=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -l "$root/usr/share/man/man1/$page.1.gz" 2>&1 >/dev/null || echo "man failed")
  [ -z "$warnings" ] || { printf '%s\n' "$warnings" >&2; fail "man -l $page.1.gz"; }
  LC_ALL=C.UTF-8 MANWIDTH=80 man -l "$root/usr/share/man/man1/$page.1.gz" 2>/dev/null | grep -q "^NAME" \
    || fail "man -l $page.1.gz shows no NAME"
done
echo "package: ok   man -l vantrel.1.gz skerry.1.gz"
# Neither needs a display for these; nothing may start (no port is bound).
check "vantrel --version" "$root/usr/bin/vantrel" --version
check "skerry --help" "$root/usr/bin/skerry" --help
version=$("$root/usr/bin/vantrel" --version)
[ "$version" = "Vantrel $(dpkg-deb -f "$deb" Version)" ] || fail "vantrel --version says '$version'"
for program in vantrel skerry; do
  status=0
  QT_QPA_PLATFORM=offscreen timeout 20 "$root/usr/bin/$program" --no-such-option >/dev/null 2>&1 || status=$?
  [ $status -eq 2 ] || fail "$program --no-such-option ended with $status, not 2"
done
echo "package: ok   an unknown option ends with status 2"

[ $failures -eq 0 ] || { echo "package: $failures check(s) failed" >&2; exit 1; }
echo "package: all checks passed"
