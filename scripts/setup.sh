#!/usr/bin/env bash
# Installs what vesk2 needs to build, test and run, on Debian 12, as root.
# Idempotent: packages already present are not installed again.
#   scripts/setup.sh          build tools only
#   scripts/setup.sh --tests  also the test framework and the real FTP/SOCKS peers
set -euo pipefail

packages=(g++ cmake make pkg-config)
if [[ "${1:-}" == "--tests" ]]; then
    packages+=(libgtest-dev libgmock-dev googletest curl lftp python3 vsftpd dante-server microsocks)
fi

missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if ((${#missing[@]})); then
    if [[ $(id -u) -ne 0 ]]; then
        echo "setup: these Debian packages are missing; run as root to install them: ${missing[*]}" >&2
        exit 1
    fi
    echo "setup: installing ${missing[*]}"
    export DEBIAN_FRONTEND=noninteractive
    apt-get update -qq
    apt-get install -y -qq --no-install-recommends "${missing[@]}"
    # The peers are started by the tests themselves, on 127.0.0.1 only.
    for service in vsftpd danted; do
        if command -v systemctl >/dev/null 2>&1 && systemctl is-active --quiet "$service" 2>/dev/null; then
            systemctl disable --now "$service" >/dev/null 2>&1 || true
        fi
    done
fi
