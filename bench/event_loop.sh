#!/usr/bin/env bash
# The server's event loop under many sessions: CLIENTS (500) concurrent
# control connections are greeted and send COMMANDS (100) commands each, one
# round trip at a time. Prints round trips per second, the memory of an idle
# session and the server's peak resident memory. The server runs on one
# thread, so the figure is that of one core.
#
#   bench/event_loop.sh [CLIENTS [COMMANDS]]
set -euo pipefail
cd "$(dirname "$0")/.."
clients=${1:-500}
commands=${2:-100}
scripts/setup.sh
command -v python3 >/dev/null || { echo "bench: python3 is missing (scripts/setup.sh --tests)" >&2; exit 1; }
work=$(mktemp -d /tmp/vesk2-bench-loop.XXXXXX)
server_pid=
cleanup() {
    [[ -n "$server_pid" ]] && kill "$server_pid" 2>/dev/null && wait "$server_pid" 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT
cmake -S . -B build/bench -DCMAKE_BUILD_TYPE=Release -DVESK2_TESTS=OFF -DVESK2_BENCH=ON >/dev/null
if ! cmake --build build/bench -j"$(nproc)" --target vesk2 event_loop_bench >"$work/build.log" 2>&1; then
    cat "$work/build.log" >&2
    exit 1
fi


ulimit -n $((clients * 2 + 256)) 2>/dev/null || true
port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])')
printf '[Server Options]\nMaximumConcurrentUsers=%d\n' $((clients + 10)) >"$work/vesk2.ini"
# The server logs every line; the terminal would be the bottleneck, not the loop.
VESK2_HOME="$work" build/bench/src/app/vesk2 --headless --port "$port" --bind 127.0.0.1 >/dev/null 2>"$work/server.err" &
server_pid=$!
for _ in $(seq 100); do
    python3 -c "import socket; socket.create_connection(('127.0.0.1',$port),0.2)" 2>/dev/null && break
    sleep 0.1
done
sleep 0.5
build/bench/bench/event_loop_bench "$port" "$server_pid" "$clients" "$commands"
