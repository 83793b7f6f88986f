#!/usr/bin/env bash
# Linux and Windows peers on one wire: a Linux `pellax serve --echo` answers a Windows `pellax.exe
# call` under Wine, and a Windows server answers a Linux client. Each call is synchronous, carries
# extension headers and a payload encrypted on one side and decrypted on the other.
set -euo pipefail
cd "$(dirname "$0")/.."
linux="${LINUX_TOOL:-build/tools/pellax}"
windows="${WINDOWS_TOOL:-build-windows/tools/pellax.exe}"
wine_run=scripts/wine-run.sh
work="$(mktemp -d)"
server_pid=""
cleanup() {
    if [ -n "$server_pid" ]; then kill "$server_pid" 2>/dev/null || true; wait "$server_pid" 2>/dev/null || true; fi
    rm -rf "$work"
}
trap cleanup EXIT

free_port() { python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])'; }
# Start-up under Wine takes up to a few seconds: wait for the listener, never a fixed sleep.
wait_listening() {
    for _ in $(seq 1 300); do
        if (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null; then return 0; fi
        sleep 0.1
    done
    echo "interop: nothing listens on port $1" >&2
    return 1
}
# One answered call: the cipher text came back with both extension headers, command 101.
check_call() {
    local name="$1" output="$2" text="$3"
    grep -q "$text" <<<"$output" || { echo "interop: $name: the echo lacks the cipher text"; echo "$output"; exit 1; }
    grep -q "cmd=101 .*7:seven.*9:nine" <<<"$output" ||
        { echo "interop: $name: no answer with both extension headers"; echo "$output"; exit 1; }
}

key=000102030405060708090a0b0c0d0e0f
secret="linux and windows agree"
start=$(date +%s)

# 1. Linux server, Windows client; Linux encrypts, Windows decrypts what came back.
port=$(free_port)
"$linux" serve --listen "127.0.0.1:$port" --echo --quiet >"$work/linux-serve.log" 2>&1 &
server_pid=$!
wait_listening "$port"
text=$("$linux" encrypt --key "$key" "$secret")
output=$("$wine_run" "$windows" call --connect "127.0.0.1:$port" --command 100 --data "$text" \
    --ext 7=seven --ext 9=nine --timeout 10)
check_call "Windows client to Linux server" "$output" "$text"
plain=$("$wine_run" "$windows" decrypt --key "$key" "$text" | tr -d '\r')
[ "$plain" = "$secret" ] || { echo "interop: Windows decrypted '$plain'"; exit 1; }
echo "interop: Linux server answered a Windows synchronous call; Windows decrypted the Linux cipher text"
kill "$server_pid"; wait "$server_pid" 2>/dev/null || true; server_pid=""

# 2. Windows server, Linux client; Windows encrypts, Linux decrypts.
port=$(free_port)
WINEDEBUG=-all setsid "$wine_run" "$windows" serve --listen "127.0.0.1:$port" --echo --quiet \
    >"$work/windows-serve.log" 2>&1 </dev/null &
server_pid=$!
wait_listening "$port"
text=$("$wine_run" "$windows" encrypt --key "$key" "$secret" | tr -d '\r')
output=$("$linux" call --connect "127.0.0.1:$port" --command 100 --data "$text" --ext 7=seven --ext 9=nine --timeout 10)
check_call "Linux client to Windows server" "$output" "$text"
plain=$("$linux" decrypt --key "$key" "$text")
[ "$plain" = "$secret" ] || { echo "interop: Linux decrypted '$plain'"; exit 1; }
echo "interop: Windows server answered a Linux synchronous call; Linux decrypted the Windows cipher text"
kill -- -"$server_pid" 2>/dev/null || kill "$server_pid" 2>/dev/null || true
wait "$server_pid" 2>/dev/null || true; server_pid=""
echo "interop: passed in $(( $(date +%s) - start )) s"
