#!/usr/bin/env bash
# Server throughput over 127.0.0.1, in one run:
#   - a 1 GiB download and upload by curl, against vesk2's headless server and
#     against vsftpd, in passive mode;
#   - an enciphered download from vesk2 by `vesk2 client` with the same key;
#   - this machine's single-core Blowfish-CBC speed (openssl speed, legacy
#     provider), the limit an enciphered stream can reach.
# Prints MB/s (10^6 bytes per second) for each, the ratios and the server's
# peak resident memory.
#
#   bench/transfer/run.sh                 builds a release vesk2 in build/release/
#   VESK2=/path/to/vesk2 bench/transfer/run.sh
#   SIZE_MIB=256 ROUNDS=1 bench/transfer/run.sh
set -euo pipefail
cd "$(dirname "$0")/../.."
root=$(pwd)
size_mib=${SIZE_MIB:-1024}
rounds=${ROUNDS:-2}

for tool in vsftpd curl python3 openssl; do
    command -v "$tool" >/dev/null || scripts/setup.sh --tests
done
command -v openssl >/dev/null || { [[ $(id -u) -eq 0 ]] && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq openssl >/dev/null; }
for tool in vsftpd curl python3 openssl; do
    command -v "$tool" >/dev/null || { echo "bench: $tool is missing" >&2; exit 1; }
done

if [[ -z "${VESK2:-}" ]]; then
    build=${BUILD_DIR:-$root/build/release}
    cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DVESK2_TESTS=OFF >/dev/null
    cmake --build "$build" -j"$(nproc)" --target vesk2 >/dev/null
    VESK2=$build/src/app/vesk2
fi

work=$(mktemp -d /tmp/vesk2-bench-transfer.XXXXXX)
pids=()
cleanup() {
    for p in "${pids[@]}"; do kill "$p" 2>/dev/null && wait "$p" 2>/dev/null || true; done
    rm -rf "$work"
}
trap cleanup EXIT

free_port() { python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])'; }
wait_port() {
    for _ in $(seq 100); do
        python3 -c "import socket; socket.create_connection(('127.0.0.1',$1),0.2)" 2>/dev/null && return 0
        sleep 0.1
    done
    echo "bench: nothing listens on port $1" >&2
    exit 1
}

mkdir -p "$work/root/in" "$work/empty" "$work/data" "$work/home" "$work/local"
chmod 777 "$work/root/in"

# vsftpd: anonymous, uploads into in/.
vs_port=$(free_port)
vs_pasv=$(free_port)
cat >"$work/vsftpd.conf" <<EOF
listen=YES
listen_ipv6=NO
listen_address=127.0.0.1
listen_port=$vs_port
background=NO
anonymous_enable=YES
anon_root=$work/root
no_anon_password=YES
write_enable=YES
anon_upload_enable=YES
anon_other_write_enable=YES
anon_umask=022
local_enable=NO
pasv_enable=YES
pasv_min_port=$vs_pasv
pasv_max_port=$((vs_pasv + 20))
connect_from_port_20=NO
secure_chroot_dir=$work/empty
run_as_launching_user=YES
seccomp_sandbox=NO
isolate=NO
isolate_network=NO
xferlog_enable=NO
EOF
vsftpd "$work/vsftpd.conf" >"$work/vsftpd.log" 2>&1 &
pids+=($!)

# vesk2: a plain account and one with a key, both at home in root/.
key="benchkey10"
v2() { VESK2_HOME="$work/data" "$VESK2" "$@" >>"$work/admin.log" 2>&1; }
for account in plain crypt; do
    extra=()
    [[ $account == crypt ]] && extra=(--key "$key")
    v2 user add "$account" --password pw --home "$work/root/" --enabled on "${extra[@]}" --yes
    v2 user access "$account" add "$work/root/" --rights all
    up=$work
    while [[ -n "$up" ]]; do
        v2 user access "$account" add "$up/" --rights RL
        up=${up%/*}
    done
    v2 user access "$account" add "/" --rights RL
done
v2_port=$(free_port)
VESK2_HOME="$work/data" "$VESK2" --headless --port "$v2_port" --bind 127.0.0.1 >"$work/server.log" 2>&1 &
server_pid=$!
pids+=($server_pid)
wait_port "$vs_port"
wait_port "$v2_port"

echo "making a ${size_mib} MiB file..."
head -c "$((size_mib * 1024 * 1024))" /dev/urandom >"$work/root/big.bin"
cp "$work/root/big.bin" "$work/local/big.bin"
bytes=$(stat -c %s "$work/root/big.bin")

# Runs a command and sets secs to its wall-clock time.
timed() {
    local start end
    start=$(date +%s.%N)
    "$@" >"$work/cmd.log" 2>&1 || { echo "bench: failed: $*" >&2; tail -5 "$work/cmd.log" >&2; exit 1; }
    end=$(date +%s.%N)
    secs=$(python3 -c "print($end - $start)")
}
same() { cmp -s "$1" "$2" || { echo "bench: $3 differs" >&2; exit 1; }; }
mbps() { python3 -c "print(f'{$bytes / 1e6 / max($1, 0.001):.0f}')"; }
best() { python3 -c "import sys; print(min(float(x) for x in sys.argv[1:]))" "$@"; }

declare -A time_of
record() { time_of[$1]="${time_of[$1]:-} $secs"; }
for _ in $(seq "$rounds"); do
    for server in vesk2 vsftpd; do
        if [[ $server == vesk2 ]]; then url="ftp://plain:pw@127.0.0.1:$v2_port"; else url="ftp://127.0.0.1:$vs_port"; fi
        rm -f "$work/local/got.bin" "$work/root/in/up.bin"
        timed curl -s -S -o "$work/local/got.bin" "$url/big.bin"
        same "$work/local/got.bin" "$work/root/big.bin" "the $server download"
        record "$server.down"
        timed curl -s -S -T "$work/local/big.bin" "$url/in/up.bin"
        same "$work/root/in/up.bin" "$work/local/big.bin" "the $server upload"
        record "$server.up"
    done
    rm -f "$work/local/got.bin"
    timed env VESK2_HOME="$work/home" "$VESK2" client "ftp://crypt:pw@127.0.0.1:$v2_port/big.bin" \
        --get "$work/local/got.bin" --passive --key "$key" --mandatory
    grep -q "Using 80 bit BLOWFISH encryption." "$work/cmd.log" || { echo "bench: the download was not enciphered" >&2; cat "$work/cmd.log" >&2; exit 1; }
    same "$work/local/got.bin" "$work/root/big.bin" "the enciphered download"
    record "vesk2.enciphered"
done
server_hwm_kib=$(awk '/^VmHWM:/ {print $2}' "/proc/$server_pid/status")

# openssl prints thousands of bytes per second; the 16384-byte column is the
# steady-state speed.
speed_line=$(openssl speed -elapsed -seconds 2 -provider legacy -provider default -evp bf-cbc 2>/dev/null | grep -i '^bf-cbc' | tail -1)
bf_mbps=$(python3 -c "import sys; f=sys.argv[1].split(); print(f'{float(f[-1].rstrip(\"k\")) / 1000:.0f}')" "$speed_line")

echo
printf '%-28s %10s\n' "" "MB/s"
for row in vesk2.down vsftpd.down vesk2.up vsftpd.up vesk2.enciphered; do
    printf '%-28s %10s\n' "$row" "$(mbps "$(best ${time_of[$row]})")"
done
printf '%-28s %10s\n' "blowfish-cbc (openssl, 1 core)" "$bf_mbps"
echo
ratio() { python3 -c "print(f'{$1 / max($2, 0.001):.2f}')"; }
for dir in down up; do
    echo "$dir: vesk2 / vsftpd = $(ratio "$(best ${time_of[vsftpd.$dir]})" "$(best ${time_of[vesk2.$dir]})") (target >= 0.90)"
done
enc=$(mbps "$(best ${time_of[vesk2.enciphered]})")
echo "enciphered download / blowfish-cbc = $(ratio "$enc" "$bf_mbps") (target >= 0.70)"
echo "vesk2 server peak RSS: $((server_hwm_kib / 1024)) MiB (target < 32)"
