#!/usr/bin/env bash
# The package stage of the test command: builds the .deb, checks it with lintian (no error),
# unpacks it into a temporary root (nothing is installed on the machine), runs the unpacked
# kelvarin-cli, validates the desktop entry and the metainfo, and checks that every option each
# program's --help names appears in its manual page, and checks the monitoring examples: the
# Prometheus configuration, alert rules and their tests with promtool, the systemd unit with
# systemd-analyze against the unpacked programs.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
deb="$("$root/scripts/package.sh")"
echo "== package: $deb"

lintian --tag-display-limit 0 "$deb" > "$root/build-pkg/lintian.log" 2>&1 || true
cat "$root/build-pkg/lintian.log"
if grep -q '^E:' "$root/build-pkg/lintian.log"; then
  echo "lintian reports errors on the package"
  exit 1
fi

unpacked="$(mktemp -d)"
trap 'rm -rf "$unpacked"' EXIT
dpkg-deb -x "$deb" "$unpacked"
usr="$unpacked/usr"
version="$(sed -n 's/^project(Kelvarin VERSION \([0-9.]*\).*/\1/p' "$root/CMakeLists.txt")"
for program in kelvarin kelvarin-cli kelvarin-sim; do
  [ "$("$usr/bin/$program" --version)" = "$program $version" ] ||
    { echo "$program --version does not print '$program $version'"; exit 1; }
done
KELVARIN_PORTS_ONLY=1 KELVARIN_PORTS=/dev/null "$usr/bin/kelvarin-cli" ports > /dev/null

desktop-file-validate "$usr/share/applications/org.kelvarin.Kelvarin.desktop"
appstreamcli validate --no-net --explain "$usr/share/metainfo/org.kelvarin.Kelvarin.metainfo.xml"
for size in 16 22 24 32 48 64 128 256; do
  [ -s "$usr/share/icons/hicolor/${size}x${size}/apps/org.kelvarin.Kelvarin.png" ] ||
    { echo "no ${size}x${size} icon"; exit 1; }
done
[ -s "$usr/share/icons/hicolor/scalable/apps/org.kelvarin.Kelvarin.svg" ]

# Every option of --help in the page (help2man writes a hyphen as \-).
for program in kelvarin kelvarin-cli kelvarin-sim; do
  page="$(gzip -dc "$usr/share/man/man1/$program.1.gz" | sed 's/\\-/-/g')"
  for option in $("$usr/bin/$program" --help | grep -oE '(^|[ ,(\[])--?[a-z][a-z-]*' |
                  sed 's/^[ ,(\[]//' | sort -u); do
    grep -qF -- "$option" <<< "$page" ||
      { echo "$program: $option is in --help but not in the manual page"; exit 1; }
  done
  man -l "$usr/share/man/man1/$program.1.gz" > /dev/null 2>&1 || gzip -t "$usr/share/man/man1/$program.1.gz"
done
examples="$usr/share/doc/kelvarin/examples"
for file in prometheus.yml kelvarin-alerts.yml kelvarin-alerts.test.yml kelvarin-monitor.service \
  kelvarin-dashboard.json; do
  [ -s "$examples/$file" ] || { echo "no examples/$file in the package"; exit 1; }
done
if command -v promtool > /dev/null; then
  # As installed: the configuration finds the rules, the tests find them too.
  promtool check config --lint=all --lint-fatal "$examples/prometheus.yml"
  promtool test rules "$examples/kelvarin-alerts.test.yml"
else
  echo "promtool not found: the monitoring examples are not checked"
fi
if command -v systemd-analyze > /dev/null && [ -d /usr/lib/systemd/system ]; then
  # In the unpacked root, with the system's own units beside it: ExecStart is the package's.
  mkdir -p "$unpacked/etc/systemd/system" "$unpacked/usr/lib/systemd"
  cp -a /usr/lib/systemd/system "$unpacked/usr/lib/systemd/"
  cp "$examples/kelvarin-monitor.service" "$unpacked/etc/systemd/system/"
  verify="$(systemd-analyze verify --man=no --root="$unpacked" \
            /etc/systemd/system/kelvarin-monitor.service 2>&1)" && [ -z "$verify" ] ||
    { echo "$verify"; echo "systemd-analyze verify finds fault with kelvarin-monitor.service"; exit 1; }
else
  echo "systemd-analyze not found: kelvarin-monitor.service is not checked"
fi
echo "== package: checked"
