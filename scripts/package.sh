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
# The distribution's hardening (stack protector, fortify, relro, bindnow),
# given on every configure so that an old cache cannot keep other flags.
export DEB_BUILD_MAINT_OPTIONS=hardening=+all
cppflags=$(dpkg-buildflags --get CPPFLAGS)
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DTFTP_TESTS=OFF \
  -DCMAKE_INSTALL_PREFIX=/usr \
  -DCMAKE_C_FLAGS="$cppflags $(dpkg-buildflags --get CFLAGS)" \
  -DCMAKE_CXX_FLAGS="$cppflags $(dpkg-buildflags --get CXXFLAGS)" \
  -DCMAKE_EXE_LINKER_FLAGS="$(dpkg-buildflags --get LDFLAGS)" >/dev/null
cmake --build "$build" -j "$(nproc)" --target vantrel skerry vantrel_man skerry_man tftp_changelog
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
for lib in libqt6widgets6 libqt6gui6 libqt6core6 libpcre2-8-0 libc6 libstdc++6; do
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
  /usr/share/doc/vantrel-skerry/changelog.gz
  /usr/lib/systemd/system/vantrel.service /usr/lib/sysusers.d/vantrel.conf /usr/lib/tmpfiles.d/vantrel.conf
)
for size in 16 22 24 32 48 64 128 256; do
  expected+=("/usr/share/icons/hicolor/${size}x${size}/apps/vantrel.png"
             "/usr/share/icons/hicolor/${size}x${size}/apps/skerry.png")
done
for f in "${expected[@]}"; do
  grep -qx -- "$f" <<<"$listing" || fail "the package lacks $f"
done
unexpected=$(grep -v -e '/$' <<<"$listing" | grep -v -e '^/usr/bin/' -e '^/usr/share/' \
  -e '^/usr/lib/systemd/system/vantrel.service$' -e '^/usr/lib/sysusers.d/vantrel.conf$' \
  -e '^/usr/lib/tmpfiles.d/vantrel.conf$' || true)
[ -z "$unexpected" ] || fail "files outside /usr/bin, /usr/share and the service's three: $unexpected"
# The service is installed, never enabled or started by the package.
postinst=$(dpkg-deb -I "$deb" postinst 2>/dev/null || true)
if grep -v '^#' <<<"$postinst" | grep -qE 'systemctl|deb-systemd-(helper|invoke)|invoke-rc.d'; then
  fail "postinst enables or starts a service"
fi
echo "package: ok   file list ($(grep -vc '/$' <<<"$listing") files)"
dpkg-deb -c "$deb" | grep -v '/$' | awk '{print "package:   " $3 "  " $6}'

# lintian: no error, no warning.
lintian_out=$(lintian --info --display-level '>=warning' "$deb" 2>&1 || true)
if grep -qE '^[EW]: ' <<<"$lintian_out"; then
  printf '%s\n' "$lintian_out" >&2
  fail "lintian"
else
  echo "package: ok   lintian${lintian_out:+: $(printf '%s' "$lintian_out" | tr '\n' ' ' | cut -c1-200)}"
fi

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
# The unit as installed, checked by systemd itself where it can run.
if command -v systemd-analyze >/dev/null; then
  unit_out=$(MANPATH=$root/usr/share/man systemd-analyze verify "$root/usr/lib/systemd/system/vantrel.service" 2>&1 || true)
  # Run from the unpacked tree, the unit's /usr/bin/vantrel is not there yet.
  unit_out=$(grep -v -e 'Command /usr/bin/vantrel is not executable' <<<"$unit_out" | grep -v '^$' || true)
  [ -z "$unit_out" ] || { printf '%s\n' "$unit_out" >&2; fail "systemd-analyze verify vantrel.service"; }
  echo "package: ok   systemd-analyze verify vantrel.service"
fi
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
