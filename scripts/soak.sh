#!/usr/bin/env bash
# The long reliability run: the soak test at full scale, then the hostile-peer tests with a flood of
# 1024 connections and longer loads. Figures are printed as "[ figures ]" lines.
#   scripts/soak.sh            (PELLAX_SOAK_SECONDS, PELLAX_SOAK_CLIENTS, BUILD_DIR may be set)
set -euo pipefail
cd "$(dirname "$0")/.."

build=${BUILD_DIR:-build}
jobs=$(nproc 2>/dev/null || echo 2)
[ -f "$build/Makefile" ] || cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j "$jobs" --target pellax_tests_soak pellax_tests_hostile

# Room for 1024 flood connections, or 256 clients with both ends of every connection in one process.
ulimit -n "$(ulimit -Hn)" 2>/dev/null || true

export PELLAX_SOAK_SECONDS=${PELLAX_SOAK_SECONDS:-180}
export PELLAX_SOAK_CLIENTS=${PELLAX_SOAK_CLIENTS:-256}
echo "soak: ${PELLAX_SOAK_CLIENTS} clients for ${PELLAX_SOAK_SECONDS} s"
(cd "$build" && ctest --output-on-failure -L soak)

echo "soak: hostile peers with a flood of 1024 connections and 10-second loads"
PELLAX_FLOOD_CONNECTIONS=1024 PELLAX_HOSTILE_SECONDS=10 "$build/tests/pellax_tests_hostile"
