#!/usr/bin/env bash
# Lays out what a Windows user gets under <build>/package/pellax-<version>-win64 and zips it:
# bin/ (pellax.dll, pellax.exe), lib/ (pellax.lib, libpellax.dll.a, pellax.def), include/, examples/.
set -euo pipefail
build="${1:-build-windows}"
version="$(sed -n 's/^project(Pellax VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)"
name="pellax-$version-win64"
stage="$build/package/$name"
rm -rf "$stage" "$build/$name.zip"
cmake --install "$build" --prefix "$stage" --strip >/dev/null
(cd "$build/package" && cmake -E tar cf "../$name.zip" --format=zip "$name")
echo "package: $build/$name.zip"
(cd "$stage" && find . -type f | sort | sed 's|^\./|  |')
