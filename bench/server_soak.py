#!/usr/bin/env python3
"""Soak of the headless server: 1,000 connect/disconnect cycles, a client that
sends 10 MiB without a line end, and one that never reads its replies. Prints
the server's resident memory before and after, and whether it still answers."""

import os
import socket
import subprocess
import sys
import time


def rss_kib(pid):
    with open(f"/proc/{pid}/status") as f:
        for line in f:
            if line.startswith("VmRSS:"):
                return int(line.split()[1])
    return -1


def free_port():
    s = socket.socket()
    s.bind(("127.0.0.1", 0))
    port = s.getsockname()[1]
    s.close()
    return port


def greet(port):
    s = socket.create_connection(("127.0.0.1", port), timeout=10)
    line = s.makefile("rb").readline()
    return s, line


def main():
    binary = sys.argv[1]
    port = free_port()
    server = subprocess.Popen([binary, "--headless", "--port", str(port), "--bind", "127.0.0.1"],
                              stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    try:
        for _ in range(100):
            try:
                socket.create_connection(("127.0.0.1", port), timeout=1).close()
                break
            except OSError:
                time.sleep(0.05)
        time.sleep(0.2)
        before = rss_kib(server.pid)

        start = time.time()
        for _ in range(1000):
            s, line = greet(port)
            if not line.startswith(b"220"):
                print("unexpected greeting:", line)
            s.close()
        cycles = time.time() - start

        s, _ = greet(port)
        chunk = b"A" * 65536
        for _ in range(160):
            s.sendall(chunk)
        s.sendall(b"\r\nNOOP\r\n")
        s.settimeout(10)
        reply = s.makefile("rb").readline()
        s.close()

        deaf, _ = greet(port)
        deaf.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 4096)
        deaf.sendall(b"FOO bar\r\n" * 200000)
        deaf.close()

        time.sleep(0.5)
        s, line = greet(port)
        s.sendall(b"FOO bar\r\n")
        answer = s.makefile("rb").readline()
        s.close()
        time.sleep(0.2)
        after = rss_kib(server.pid)

        print(f"connect/disconnect cycles: 1000 in {cycles:.2f} s ({1000 / cycles:.0f} per second)")
        print(f"reply after 10 MiB without a line end: {reply.decode(errors='replace').strip()}")
        print(f"still answers: {answer.decode(errors='replace').strip()}")
        print(f"server RSS before: {before} KiB, after: {after} KiB, growth: {after - before} KiB")
    finally:
        server.terminate()
        server.wait(timeout=10)


if __name__ == "__main__":
    main()
