#!/usr/bin/env bash
# Sets up, builds and runs Colloquor. Unless COLLOQUOR_LOBBY names a lobby
# already, a private colloquor-lobby is started on 127.0.0.1 (port 8080, or a
# free port when 8080 is taken) for as long as the program runs.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
# Only what runs here, the program and the lobby: the first window comes up
# in about a minute on a fresh machine. scripts/build.sh and scripts/test.sh
# build the rest (tests, benchmarks).
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j"$(nproc)" --target colloquor colloquor-lobby

if [ -n "${COLLOQUOR_LOBBY:-}" ]; then
  exec build/app/colloquor
fi

workdir=$(mktemp -d)
lobby_pid=
stop_lobby() {
  if [ -n "$lobby_pid" ]; then kill "$lobby_pid" 2>/dev/null || true; wait "$lobby_pid" 2>/dev/null || true; fi
  rm -rf "$workdir"
}
trap stop_lobby EXIT

# Starts the lobby on port $1 and sets $port to the port it listens on;
# fails if it did not come up within 5 s.
start_lobby() {
  : >"$workdir/lobby.log"
  build/server/colloquor-lobby --address 127.0.0.1 --port "$1" >"$workdir/lobby.log" 2>&1 &
  lobby_pid=$!
  for _ in $(seq 50); do
    if grep -q '^listening on ' "$workdir/lobby.log"; then
      port=$(sed -n 's/^listening on .*:\([0-9]*\)$/\1/p' "$workdir/lobby.log" | head -n 1)
      return 0
    fi
    kill -0 "$lobby_pid" 2>/dev/null || break
    sleep 0.1
  done
  kill "$lobby_pid" 2>/dev/null || true
  wait "$lobby_pid" 2>/dev/null || true
  lobby_pid=
  return 1
}

port=
start_lobby 8080 || start_lobby 0 || {
  echo "colloquor-lobby did not start:" >&2
  cat "$workdir/lobby.log" >&2
  exit 1
}
echo "Local lobby on 127.0.0.1:$port (request log: $workdir/lobby.log)"
COLLOQUOR_LOBBY=127.0.0.1:$port build/app/colloquor
