#!/usr/bin/env bash
# Installs the build into a scratch prefix and checks what a desktop and a package manager read
# (desktop entry, AppStream metainfo, icons, man pages); then builds the .deb, unpacks it into a
# scratch root, checks it as Debian would (lintian: no error, no warning; hardening-check on
# every program) and starts the unpacked veltrane-cli and veltrane-unitsim from there.
# Argument: the build folder.
set -euo pipefail
build=$(cd "$1" && pwd)
scratch=$(mktemp -d)
trap 'kill "${sim:-}" 2>/dev/null || true; rm -rf "$scratch"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

cmake --install "$build" --prefix "$scratch/prefix" >/dev/null
p=$scratch/prefix
for f in bin/veltrane bin/veltrane-cli bin/veltrane-unitsim share/applications/veltrane.desktop \
         share/metainfo/org.veltrane.Veltrane.metainfo.xml share/man/man1/veltrane.1.gz \
         share/man/man1/veltrane-cli.1.gz share/man/man1/veltrane-unitsim.1.gz \
         share/doc/veltrane/copyright share/doc/veltrane/changelog.gz \
         share/doc/veltrane/contrib/example.conf share/doc/veltrane/contrib/veltrane-alerts.yml \
         lib/systemd/system/veltrane-collect@.service lib/systemd/system/veltrane-exporter.service \
         lib/systemd/system/veltrane-exporter.socket \
         lib/sysusers.d/veltrane.conf; do
  [ -f "$p/$f" ] || fail "$f not installed"
done
# A PNG's width and height are big-endian words at bytes 16 and 20.
png_size() { od -An -tu1 -j16 -N8 "$1" | awk '{ printf "%dx%d", (($1*256+$2)*256+$3)*256+$4, (($5*256+$6)*256+$7)*256+$8 }'; }
for size in 16 22 24 32 48 64 128 256; do
  icon=$p/share/icons/hicolor/${size}x${size}/apps/veltrane.png
  [ "$(png_size "$icon")" = "${size}x${size}" ] || fail "icon $icon is not ${size}x${size}"
done
desktop-file-validate "$p/share/applications/veltrane.desktop"
appstreamcli validate --no-net "$p/share/metainfo/org.veltrane.Veltrane.metainfo.xml" >/dev/null ||
  fail "$(appstreamcli validate --no-net "$p/share/metainfo/org.veltrane.Veltrane.metainfo.xml")"
for page in veltrane veltrane-cli veltrane-unitsim; do
  warnings=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -l "$p/share/man/man1/$page.1.gz" 2>&1 >/dev/null)
  [ -z "$warnings" ] || fail "man page $page: $warnings"
done
help=$("$p/bin/veltrane-cli" --help)
grep -q "^  2  the unit did not answer" <<<"$help" || fail "exit statuses missing from --help"
zgrep -q "the unit did not answer" "$p/share/man/man1/veltrane-cli.1.gz" || fail "exit statuses missing from the man page"

(cd "$build" && cpack -G DEB -B "$scratch/deb" >/dev/null)
deb=$(ls "$scratch"/deb/*.deb)
depends=$(dpkg-deb -f "$deb" Depends)
case "$depends" in
  *libqt6widgets6*libsnmp40*|*libsnmp40*libqt6widgets6*) ;;
  *) fail "dependencies not found by dpkg-shlibdeps: $depends" ;;
esac
for script in postinst prerm postrm; do
  dpkg-deb -I "$deb" "$script" >/dev/null 2>&1 || fail "the package has no $script"
done
dpkg-deb -I "$deb" postinst | grep -q '^ *systemd-sysusers veltrane.conf$' || fail "the postinst makes no user veltrane"
# What the programs load or run without linking it: an install without recommends still starts.
for needed in qt6-qpa-plugins xdg-utils; do
  grep -Eq "(^|, )$needed(,| |$)" <<<"$depends" || fail "the package does not depend on $needed: $depends"
done
# Debian's checks of a package: no error and no warning (information and pedantic notes pass).
if lint=$(lintian --no-cfg --fail-on error,warning "$deb" 2>&1); then
  echo "lintian: ${lint:-no tags}"
else
  fail "lintian: $lint"
fi
[ -z "$(grep -E '^[EW]: ' <<<"$lint")" ] || fail "lintian: $lint"
root=$scratch/root
dpkg-deb -x "$deb" "$root"
# Every program hardened as Debian builds them: stack protector, fortified functions, read-only
# relocations and immediate binding.
# The sanitized tree is built without them (the sanitizers' runtime and fortified functions clash).
hardened=usr/bin/veltrane\ usr/bin/veltrane-cli\ usr/bin/veltrane-unitsim\ usr/libexec/veltrane/veltrane-plot-render
grep -q '^VELTRANE_SANITIZE:BOOL=ON' "$build/CMakeCache.txt" && hardened=
for program in $hardened; do
  report=$(hardening-check "$root/$program" 2>&1 || true)
  for check in "Stack protected" "Fortify Source functions" "Read-only relocations" "Immediate binding"; do
    grep -q "^ $check: yes" <<<"$report" || fail "hardening-check $program: $report"
  done
done
version=$("$root/usr/bin/veltrane-cli" --version)
[ "$version" = "veltrane-cli 3.5.0" ] || fail "unpacked veltrane-cli --version printed '$version'"
echo "$(basename "$deb"): $version; Depends: $depends"
# The window starts from the unpacked package as the menu starts it (here without a display) and
# runs until it is ended.
status=0
(cd "$scratch" && QT_QPA_PLATFORM=offscreen timeout 3 "$root/usr/bin/veltrane" >"$scratch/gui.out" 2>&1) || status=$?
[ "$status" -eq 124 ] || fail "unpacked veltrane ended at once ($status): $(cat "$scratch/gui.out")"

# The unpacked virtual unit starts and answers on a loopback address of this test's own.
cat > "$scratch/unit.json" <<'JSON'
{"units": [{"address": "127.219.0.13", "ports": [{"index": 0, "table16": {"status": 1, "description": "Packaged", "value": 7}}]}]}
JSON
if [ "$(id -u)" -eq 0 ]; then
  "$root/usr/bin/veltrane-unitsim" --ready-file "$scratch/ready" "$scratch/unit.json" >"$scratch/sim.out" 2>&1 &
  sim=$!
  for _ in $(seq 100); do [ -s "$scratch/ready" ] && break; sleep 0.1; done
  [ -s "$scratch/ready" ] || fail "unpacked veltrane-unitsim did not start: $(cat "$scratch/sim.out")"
  scan=$("$root/usr/bin/veltrane-cli" scan 127.219.0.13) || fail "scan of the unpacked unit failed: $scan"
  grep -q "^Port 1	Packaged	" <<<"$scan" || fail "no answer from the unpacked unit: $scan"
  kill "$sim"; wait "$sim" || fail "veltrane-unitsim did not end cleanly"
  sim=
else
  "$root/usr/bin/veltrane-unitsim" --help >/dev/null || fail "unpacked veltrane-unitsim does not start"
fi
echo "install and package: ok"
