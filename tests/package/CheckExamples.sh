#!/usr/bin/env bash
# Installs the build into a fresh prefix, builds the examples against it (find_package and pkg-config)
# and runs the example server and client against each other on a free loopback port.
set -euo pipefail
build_dir=$1 work_dir=$2 examples_dir=$3 cc=$4
prefix=$work_dir/prefix
rm -rf "$work_dir"
cmake --install "$build_dir" --prefix "$prefix" >/dev/null
for file in include/pellax.h lib/libpellax.so lib/libpellax.so.1 lib/pkgconfig/pellax.pc \
            lib/cmake/Pellax/PellaxConfig.cmake lib/cmake/Pellax/PellaxConfigVersion.cmake; do
    [ -e "$prefix/$file" ] || { echo "not installed: $file"; exit 1; }
done

cmake -S "$examples_dir" -B "$work_dir/by-cmake" -DCMAKE_PREFIX_PATH="$prefix" -DCMAKE_C_COMPILER="$cc" >/dev/null
cmake --build "$work_dir/by-cmake" >/dev/null
flags=$(PKG_CONFIG_PATH=$prefix/lib/pkgconfig pkg-config --cflags --libs pellax)
for example in server client; do
    # shellcheck disable=SC2086
    "$cc" -std=c11 -Wall -Wextra -Werror "$examples_dir/$example.c" $flags -Wl,-rpath,"$prefix/lib" \
        -o "$work_dir/pc-$example"
done

port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
run_pair() {
    local server=$1 client=$2
    timeout 30 "$server" "$port" 1 >"$work_dir/server.log" 2>&1 &
    local server_pid=$!
    for _ in $(seq 100); do
        grep -q listening "$work_dir/server.log" 2>/dev/null && break
        sleep 0.1
    done
    timeout 30 "$client" "$port" hello >"$work_dir/client.log" 2>&1
    wait "$server_pid"
    grep -q "answer (command 1001): pong: hello" "$work_dir/client.log"
    grep -q "registered" "$work_dir/server.log"
}
run_pair "$work_dir/by-cmake/pellax_example_server" "$work_dir/by-cmake/pellax_example_client"
run_pair "$work_dir/pc-server" "$work_dir/pc-client"
echo "examples built both ways and talked to each other"
