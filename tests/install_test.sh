#!/usr/bin/env bash
# Installs the build into a scratch prefix and checks what a desktop and a
# lobby operator get: both programs, the menu entry with its icons, and the
# lobby's service unit pointing at the installed program, whatever the prefix.
set -euo pipefail
build=$1
prefix=$(mktemp -d)
trap 'rm -rf "$prefix"' EXIT
cmake --install "$build" --prefix "$prefix" >/dev/null
fail() { echo "FAIL: $*"; exit 1; }
for f in bin/colloquor bin/colloquor-lobby share/applications/colloquor.desktop \
         share/icons/hicolor/scalable/apps/colloquor.svg lib/systemd/system/colloquor-lobby.service; do
  [ -e "$prefix/$f" ] || fail "missing $f"
done
for size in 16 32 48 64 128 256; do
  png=$prefix/share/icons/hicolor/${size}x${size}/apps/colloquor.png
  [ -e "$png" ] || fail "missing $size px icon"
done
[ -x "$prefix/bin/colloquor" ] || fail "colloquor not executable"
if command -v desktop-file-validate >/dev/null; then
  desktop-file-validate "$prefix/share/applications/colloquor.desktop"
fi
grep -q "^Exec=colloquor$" "$prefix/share/applications/colloquor.desktop" || fail "Exec line"
# The program's windows carry WM_CLASS "colloquor": the desktop matches them to the entry.
grep -q "^StartupWMClass=colloquor$" "$prefix/share/applications/colloquor.desktop" \
  || fail "StartupWMClass line"
unit=$prefix/lib/systemd/system/colloquor-lobby.service
grep -qx "ExecStart=$prefix/bin/colloquor-lobby --port 80" "$unit" \
  || fail "service ExecStart does not follow the prefix: $(grep ExecStart "$unit")"
grep -q "AmbientCapabilities=CAP_NET_BIND_SERVICE" "$unit" || fail "service may not bind port 80"
if command -v systemd-analyze >/dev/null; then
  systemd-analyze verify "$unit" || fail "systemd-analyze verify $unit"
else
  echo "systemd-analyze not found: unit not verified"
fi
"$prefix/bin/colloquor-lobby" --help | grep -q -- "--port" || fail "colloquor-lobby --help"
echo "install layout ok"
