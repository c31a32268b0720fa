#!/usr/bin/env bash
# Client throughput: a 1 GiB download and upload over 127.0.0.1 from vsftpd,
# by `vesk2 client` and by curl, in passive mode. Prints the speed of each, the
# ratio vesk2/curl and the client's peak resident memory.
#
#   bench/client/run.sh                 builds a release vesk2 in build/release/
#   VESK2=/path/to/vesk2 bench/client/run.sh
#   SIZE_MIB=256 bench/client/run.sh    a smaller file
set -euo pipefail
cd "$(dirname "$0")/../.."
root=$(pwd)
size_mib=${SIZE_MIB:-1024}
rounds=${ROUNDS:-4}

for tool in vsftpd curl python3; do
    command -v "$tool" >/dev/null || scripts/setup.sh --tests
done
# /usr/bin/time measures the peak memory (Debian package "time").
[[ -x /usr/bin/time ]] || { [[ $(id -u) -eq 0 ]] && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq time >/dev/null; }
for tool in vsftpd curl python3 /usr/bin/time; do
    command -v "$tool" >/dev/null || { echo "bench: $tool is missing" >&2; exit 1; }
done

if [[ -z "${VESK2:-}" ]]; then
    build=${BUILD_DIR:-$root/build/release}
    cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DVESK2_TESTS=OFF >/dev/null
    cmake --build "$build" -j"$(nproc)" --target vesk2 >/dev/null
    VESK2=$build/src/app/vesk2
fi

# Files live in memory when there is room, so disk write-back does not blur
# the figures (three copies of the file are made).
tmp=/tmp
if [[ -d /dev/shm ]] && (($(df -Pk /dev/shm | awk 'NR==2 {print $4}') > size_mib * 1024 * 4)); then
    tmp=/dev/shm
fi
work=$(mktemp -d "$tmp/vesk2-bench-client.XXXXXX")
vs_pid=
cleanup() {
    [[ -n "$vs_pid" ]] && kill "$vs_pid" 2>/dev/null && wait "$vs_pid" 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT

port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])')
pasv=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])')
mkdir -p "$work/root/in" "$work/empty" "$work/home" "$work/local"
chmod 777 "$work/root/in"
cat >"$work/vsftpd.conf" <<EOF
listen=YES
listen_ipv6=NO
listen_address=127.0.0.1
listen_port=$port
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
pasv_min_port=$pasv
pasv_max_port=$((pasv + 20))
connect_from_port_20=NO
secure_chroot_dir=$work/empty
run_as_launching_user=YES
seccomp_sandbox=NO
isolate=NO
isolate_network=NO
xferlog_enable=NO
EOF
vsftpd "$work/vsftpd.conf" >"$work/vsftpd.log" 2>&1 &
vs_pid=$!
for _ in $(seq 50); do
    python3 -c "import socket; socket.create_connection(('127.0.0.1',$port),0.2)" 2>/dev/null && break
    sleep 0.1
done

echo "making a ${size_mib} MiB file..."
head -c "$((size_mib * 1024 * 1024))" /dev/urandom >"$work/root/big.bin"
cp "$work/root/big.bin" "$work/local/big.bin"
bytes=$(stat -c %s "$work/root/big.bin")

# Runs a command under /usr/bin/time; sets secs and rss_kib.
measure() {
    /usr/bin/time -f '%e %M' -o "$work/time.txt" "$@" >/dev/null 2>"$work/cmd.log" || {
        echo "bench: failed: $*" >&2
        tail -5 "$work/cmd.log" >&2
        exit 1
    }
    read -r secs rss_kib <"$work/time.txt"
}
mibps() { python3 -c "print(f'{$bytes / 1048576 / max($1, 0.001):.0f}')"; }

url=ftp://127.0.0.1:$port
best() { python3 -c "import sys; print(min(float(x) for x in sys.argv[1:]))" "$@"; }
declare -A time_of rss_of
for round in $(seq "$rounds"); do
    for who in vesk2 curl; do
        for dir in down up; do
            rm -f "$work/local/got.bin" "$work/root/in/up.bin"
            if [[ $who == vesk2 && $dir == down ]]; then
                measure env VESK2_HOME="$work/home" "$VESK2" client "$url/big.bin" --get "$work/local/got.bin" --passive
                cmp -s "$work/local/got.bin" "$work/root/big.bin" || { echo "bench: vesk2 download differs" >&2; exit 1; }
            elif [[ $who == vesk2 ]]; then
                measure env VESK2_HOME="$work/home" "$VESK2" client "$url/in/up.bin" --put "$work/local/big.bin" --passive
                cmp -s "$work/root/in/up.bin" "$work/local/big.bin" || { echo "bench: vesk2 upload differs" >&2; exit 1; }
            elif [[ $dir == down ]]; then
                measure curl -s -S -o "$work/local/got.bin" "$url/big.bin"
            else
                measure curl -s -S -T "$work/local/big.bin" "$url/in/up.bin"
            fi
            time_of[$who.$dir]="${time_of[$who.$dir]:-} $secs"
            rss_of[$who.$dir]=$rss_kib
        done
    done
done

echo
printf '%-10s %-9s %10s %10s\n' client direction "MiB/s" "RSS MiB"
for dir in down up; do
    for who in vesk2 curl; do
        t=$(best ${time_of[$who.$dir]})
        printf '%-10s %-9s %10s %10s\n' "$who" "$dir" "$(mibps "$t")" "$((rss_of[$who.$dir] / 1024))"
    done
done
echo
for dir in down up; do
    tv=$(best ${time_of[vesk2.$dir]})
    tc=$(best ${time_of[curl.$dir]})
    python3 -c "print(f'$dir: vesk2 / curl speed = {$tc / max($tv, 0.001):.2f} (target >= 0.90)')"
done
echo "vesk2 client peak RSS: down $((rss_of[vesk2.down] / 1024)) MiB, up $((rss_of[vesk2.up] / 1024)) MiB (target < 32)"
