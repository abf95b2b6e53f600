#!/usr/bin/env bash
# The systemd units and the sysusers.d file as the package ships them: systemd-sysusers makes the
# user and group veltrane from the file; systemd-analyze verify finds nothing to say of either unit
# (run with the built veltrane-cli in place of /usr/bin's); their exposure stays low
# (systemd-analyze security, printed); no step runs as root ("+", "!") and no ExecStart= holds a
# secret. Arguments: the source folder and the built veltrane-cli.
set -euo pipefail
src=$(cd "$1" && pwd)
cli=$2
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

mkdir -p "$scratch/root/etc"
systemd-sysusers --root="$scratch/root" "$src/contrib/veltrane.sysusers" >/dev/null 2>&1 ||
  fail "systemd-sysusers refused contrib/veltrane.sysusers"
grep -q '^veltrane:x:[0-9]*:[0-9]*:Veltrane services:/var/lib/veltrane:/usr/sbin/nologin$' "$scratch/root/etc/passwd" ||
  fail "no user veltrane: $(cat "$scratch/root/etc/passwd")"
grep -q '^veltrane:x:[0-9]*:' "$scratch/root/etc/group" || fail "no group veltrane"

mkdir -p "$scratch/units"
for unit in veltrane-collect@.service veltrane-exporter.service; do
  file=$src/contrib/$unit
  # Continued lines joined, as systemd reads them.
  commands=$(sed -e ':a' -e '/\\$/N; s/\\\n//; ta' "$file" | grep -E '^Exec[A-Za-z]*=' || true)
  if grep -E '^Exec[A-Za-z]*=[-@:]*[+!]' <<<"$commands"; then fail "$unit runs a step with privileges"; fi
  if grep -E -i 'community|password' <<<"$commands"; then fail "$unit has a secret on a command line"; fi
  grep -q '^User=veltrane$' "$file" || fail "$unit does not run as veltrane"
  sed "s|/usr/bin/veltrane-cli|$cli|" "$file" >"$scratch/units/$unit"
done
# The exporter's listening socket, which its service requires.
cp "$src/contrib/veltrane-exporter.socket" "$scratch/units/"
said=$(cd "$scratch/units" && systemd-analyze --man=no verify veltrane-collect@.service veltrane-exporter.service \
  veltrane-exporter.socket 2>&1) ||
  fail "systemd-analyze verify: $said"
[ -z "$said" ] || fail "systemd-analyze verify: $said"
for unit in veltrane-collect@.service veltrane-exporter.service; do
  # 2.0 on systemd's scale of 10: well inside "OK".
  line=$(cd "$scratch/units" && systemd-analyze security --offline=true --threshold=20 --no-pager "$unit" | tail -n 1) ||
    fail "$unit: $line"
  echo "$unit: ${line#→ }"
done
echo "service units: ok"
