#!/usr/bin/env bash
# Load benchmark of colloquor-lobby beside nginx on loopback, run on demand
# (not part of CTest). Measures requests per second with wrk for
#   list  - the list answer with 1000 rooms announced,
#   ping  - the caller's address,
# against nginx serving static files of the same sizes, each with one
# connection per request ("Connection: close", as the program's HTTP/1.0
# client does) and with keep-alive, at 1 and 10 concurrent connections. Both
# servers log every request to a file.
#
# The machine may be shared, so both servers run on the same single core
# (CPU 0, nginx with one worker, the lobby with one event loop), wrk on CPU 1,
# and the two servers are measured in alternating runs, each round starting
# with the other one; the rates are medians of the rounds, the ratio is the
# median of each round's ratio.
#
# Each server and each wrk run has a session of its own: the kernel's
# autogroup scheduling (kernel.sched_autogroup_enabled) shares a CPU between
# sessions first and by nice only within one. nginx's daemon makes its own
# session; a lobby left in this script's session would share that session's
# weight with wrk and lose to nginx whenever other work competes for the
# CPU. With root, every one of those sessions (and each process) gets nice
# -10, so the servers and wrk weigh the same against other work. Needs wrk,
# nginx, taskset and setsid (Debian packages).
#
# Usage: bench/lobby_load.sh [seconds per run, default 3] [rounds, default 5]
# Uses build/ (or $BUILD_DIR). Traffic goes to 127.0.0.0/8 only.
set -euo pipefail
cd "$(dirname "$0")/.."
build_dir=${BUILD_DIR:-build}
duration=${1:-3}
rounds=${2:-5}
server_cpu=0
client_cpu=1
first=(nice -n -10)
"${first[@]}" true 2>/dev/null || first=()
lobby_bin=$build_dir/server/colloquor-lobby
for tool in wrk nginx python3 taskset setsid; do
  command -v "$tool" >/dev/null || { echo "$tool is needed (apt-get install $tool)" >&2; exit 1; }
done
[ -x "$lobby_bin" ] || { echo "build colloquor-lobby first (scripts/build.sh)" >&2; exit 1; }

work=$(mktemp -d)
lobby_pid=
nginx_started=
cleanup() {
  if [ -n "$lobby_pid" ]; then kill "$lobby_pid" 2>/dev/null && wait "$lobby_pid" 2>/dev/null || true; fi
  if [ -n "$nginx_started" ]; then nginx -c "$work/nginx.conf" -p "$work" -s stop 2>/dev/null || true; fi
  rm -rf "$work"
}
trap cleanup EXIT

# Runs a command in a session of its own, at autogroup nice -10 when allowed
# (setsid, sh, nice and taskset each exec the next: the process keeps its id).
own_session=(setsid sh -c 'echo -10 >/proc/self/autogroup 2>/dev/null; exec "$@"' sh "${first[@]}")

# --- the lobby, with 1000 rooms announced from 1000 loopback addresses ---
"${own_session[@]}" taskset -c $server_cpu "$lobby_bin" --address 127.0.0.1 --port 0 \
  >"$work/lobby.log" 2>&1 &
lobby_pid=$!
for _ in $(seq 50); do grep -qs '^listening on' "$work/lobby.log" && break; sleep 0.1; done
lobby_port=$(sed -n 's/^listening on .*:\([0-9]*\)$/\1/p' "$work/lobby.log")
[ -n "$lobby_port" ] || { cat "$work/lobby.log" >&2; exit 1; }

python3 - "$lobby_port" <<'PY'
import socket, sys
port = int(sys.argv[1])
for i in range(1000):
    source = "127.1.%d.%d" % (i // 250, i % 250 + 1)
    s = socket.socket()
    s.bind((source, 0))
    s.connect(("127.0.0.1", port))
    s.sendall(("GET /gnet/gnet.php?opt=add&game=ColloquorRC2b&server=room_%04d HTTP/1.0\r\n"
               "HOST: 127.0.0.1\r\n\r\n" % i).encode())
    answer = b""
    while True:
        chunk = s.recv(4096)
        if not chunk:
            break
        answer += chunk
    s.close()
    if not answer.endswith(b"\r\n\r\nOK\n"):
        sys.exit("add %d failed: %r" % (i, answer[:200]))
PY

body() { python3 - "$1" <<'PY'
import socket, sys
s = socket.create_connection(("127.0.0.1", int(sys.argv[1].split()[0])))
s.sendall(("GET %s HTTP/1.0\r\n\r\n" % sys.argv[1].split()[1]).encode())
data = b""
while True:
    chunk = s.recv(65536)
    if not chunk:
        break
    data += chunk
sys.stdout.buffer.write(data.split(b"\r\n\r\n", 1)[1])
PY
}
mkdir -p "$work/html" "$work/logs"
chmod 755 "$work" "$work/html"  # nginx's workers run as another user
body "$lobby_port /gnet/gnet.php?opt=list" >"$work/html/list"
body "$lobby_port /gnet/gnet.php?opt=ping" >"$work/html/ping"
list_bytes=$(stat -c %s "$work/html/list")
ping_bytes=$(stat -c %s "$work/html/ping")
[ "$(grep -c . "$work/html/list")" -eq 3000 ] || { echo "the lobby does not list 1000 rooms" >&2; exit 1; }

# --- nginx with a private configuration on a free loopback port ---
nginx_port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])')
cat >"$work/nginx.conf" <<CONF
worker_processes 1;
pid $work/nginx.pid;
error_log $work/logs/error.log;
events { worker_connections 1024; }
http {
  access_log $work/logs/access.log;
  default_type text/plain;
  keepalive_requests 1000;
  server {
    listen 127.0.0.1:$nginx_port;
    root $work/html;
  }
}
CONF
"${first[@]}" taskset -c $server_cpu nginx -c "$work/nginx.conf" -p "$work"
nginx_started=1
# Its daemon has made a session of its own; that session gets nice -10 too.
for _ in $(seq 50); do [ -s "$work/nginx.pid" ] && break; sleep 0.1; done
if [ ${#first[@]} -gt 0 ] && [ -s "$work/nginx.pid" ]; then
  echo -10 >"/proc/$(cat "$work/nginx.pid")/autogroup" 2>/dev/null || true
fi

# requests per second of one wrk run: rps URL CONNECTIONS [wrk options]
rps() {
  local url=$1 connections=$2; shift 2
  "${own_session[@]}" taskset -c $client_cpu wrk -t1 -c"$connections" -d"${duration}s" "$@" "$url" 2>&1 |
    awk '/Requests\/sec/ {print $2} /Non-2xx|Socket errors/ {print "  (" $0 ")" > "/dev/stderr"}'
}
median() { tr ' ' '\n' | grep . | sort -g | awk '{v[NR] = $1} END {print v[int((NR + 1) / 2)]}'; }

echo "colloquor-lobby vs nginx on 127.0.0.1, both on CPU $server_cpu, wrk -t1 on CPU $client_cpu"
echo "${duration}s per run, median of $rounds alternating rounds; load average before: $(cut -d' ' -f1-3 /proc/loadavg)"
echo "list body $list_bytes bytes (1000 rooms), ping body $ping_bytes bytes"
printf '%-6s %-11s %3s %13s %13s %7s\n' request connection c lobby_req/s nginx_req/s ratio
for request in ping list; do
  for mode in close keep-alive; do
    for connections in 1 10; do
      args=()
      [ "$mode" = close ] && args=(-H "Connection: close")
      lobby_runs= nginx_runs= ratios=
      for round in $(seq "$rounds"); do
        lobby_url="http://127.0.0.1:$lobby_port/gnet/gnet.php?opt=$request"
        nginx_url="http://127.0.0.1:$nginx_port/$request"
        if [ $((round % 2)) = 1 ]; then
          lobby=$(rps "$lobby_url" "$connections" "${args[@]}")
          nginx=$(rps "$nginx_url" "$connections" "${args[@]}")
        else
          nginx=$(rps "$nginx_url" "$connections" "${args[@]}")
          lobby=$(rps "$lobby_url" "$connections" "${args[@]}")
        fi
        lobby_runs+=" $lobby" nginx_runs+=" $nginx"
        ratios+=" $(awk -v a="$lobby" -v b="$nginx" 'BEGIN { if (b > 0) print a / b }')"
      done
      lobby=$(median <<<"$lobby_runs")
      nginx=$(median <<<"$nginx_runs")
      ratio=$(median <<<"$ratios")
      [ -n "$ratio" ] && ratio=$(printf '%.2f' "$ratio") || ratio=-
      printf '%-6s %-11s %3s %13s %13s %7s\n' "$request" "$mode" "$connections" "$lobby" "$nginx" "$ratio"
    done
  done
done
