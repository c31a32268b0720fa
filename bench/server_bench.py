#!/usr/bin/env python3
"""Data-path speed of the headless server: RETR and STOR of large files over
127.0.0.1 in passive and active mode, plain and enciphered (after the key-check
challenge and the second SYST the server enciphers every download). Prints
MiB/s per case and the server's peak resident memory, which must not grow
with the size of the files."""

import ftplib
import os
import socket
import subprocess
import sys
import tempfile
import time

SIZE = 512 << 20
PIECE = 1 << 20


def free_port():
    s = socket.socket()
    s.bind(("127.0.0.1", 0))
    port = s.getsockname()[1]
    s.close()
    return port


def memory_kib(pid, field):
    with open(f"/proc/{pid}/status") as f:
        for line in f:
            if line.startswith(field + ":"):
                return int(line.split()[1])
    return -1


def wait_port(port):
    for _ in range(200):
        try:
            socket.create_connection(("127.0.0.1", port), timeout=1).close()
            return
        except OSError:
            time.sleep(0.05)
    sys.exit("server did not start")


def session(port, passive, enciphered):
    ftp = ftplib.FTP()
    ftp.connect("127.0.0.1", port, timeout=120)
    ftp.login("bench", "bench")
    ftp.voidcmd("TYPE I")
    ftp.set_pasv(passive)
    if enciphered:
        ftp.retrbinary("RETR *encryption.key*", lambda b: None)
        ftp.sendcmd("SYST")
    return ftp


def download(ftp):
    got = 0

    def take(block):
        nonlocal got
        got += len(block)

    start = time.perf_counter()
    ftp.retrbinary("RETR big.bin", take, blocksize=PIECE)
    return got, time.perf_counter() - start


def upload(ftp):
    piece = os.urandom(PIECE)
    start = time.perf_counter()
    conn = ftp.transfercmd("STOR up.bin")
    for _ in range(SIZE // PIECE):
        conn.sendall(piece)
    conn.close()
    ftp.voidresp()
    return SIZE, time.perf_counter() - start


def main():
    binary = sys.argv[1] if len(sys.argv) > 1 else "build/release/src/app/vesk2"
    home = tempfile.mkdtemp(prefix="vesk2-bench-")
    with open(os.path.join(home, "big.bin"), "wb") as f:
        f.truncate(SIZE)
    port = free_port()
    server = subprocess.Popen([binary, "--headless", "--port", str(port), "--bind", "127.0.0.1", "--anyone",
                               "--home", home + "/", "--key", "bench-key"], stdout=subprocess.DEVNULL)
    try:
        wait_port(port)
        print(f"server resident memory at start: {memory_kib(server.pid, 'VmRSS')} KiB")
        for enciphered in (False, True):
            for passive in (True, False):
                ftp = session(port, passive, enciphered)
                name = ("enciphered " if enciphered else "plain ") + ("passive" if passive else "active")
                n, seconds = download(ftp)
                print(f"RETR {name:20} {n / seconds / (1 << 20):9.1f} MiB/s  ({n >> 20} MiB)")
                if not enciphered:
                    n, seconds = upload(ftp)
                    print(f"STOR {name:20} {n / seconds / (1 << 20):9.1f} MiB/s  ({n >> 20} MiB)")
                ftp.quit()
        print(f"server peak resident memory: {memory_kib(server.pid, 'VmHWM')} KiB")
    finally:
        server.terminate()
        server.wait(10)
        for name in os.listdir(home):
            os.remove(os.path.join(home, name))
        os.rmdir(home)


if __name__ == "__main__":
    main()
