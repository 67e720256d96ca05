#!/usr/bin/env bash
# Installs the Debian packages needed to build, run and test Colloquor, when
# they are missing. Safe to run again; needs root or sudo only to install.
set -euo pipefail

packages=(
  # build
  build-essential cmake pkg-config
  # libraries the program links
  libfltk1.3-dev libenet-dev libvorbis-dev libogg-dev libasound2-dev libcpp-httplib-dev libevent-dev
  # local-network rooms (DNS-SD through the system's avahi-daemon) and port
  # forwarding on the router (UPnP-IGD, NAT-PMP)
  libavahi-client-dev libminiupnpc-dev libnatpmp-dev
  # tests and benchmarks
  googletest libgtest-dev libgmock-dev libbenchmark-dev libmsgpack-dev clang libclang-rt-14-dev
  # a headless X server and X tools for the window tests
  xvfb xauth xdotool x11-utils libxtst-dev
  # network namespaces and HTTP tools for the multi-process tests
  iproute2 curl procps psmisc python3
  # the local network's daemons in test namespaces: a system bus and
  # avahi-daemon each, and a router with nftables and miniupnpd
  dbus avahi-daemon avahi-utils nftables miniupnpd-nftables
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  sudo_cmd=()
  if [ "$(id -u)" -ne 0 ]; then sudo_cmd=(sudo); fi
  "${sudo_cmd[@]}" apt-get update
  DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y --no-install-recommends "${missing[@]}"
fi
