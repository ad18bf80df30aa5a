#!/usr/bin/env bash
# Cross-builds the core, vxrt7-cli.exe and the core's test programs for 64-bit
# Windows with Debian's mingw-w64, and packs vxrt7-cli-<version>-win64.zip
# (the program, linked statically, and README.txt). The zip's path is the
# last line printed.
#   scripts/build-windows.sh [BUILD_DIR]     (default build-win)
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/deps.sh
vxrt7_install_deps

build=${1:-build-win}
launcher=()
if command -v ccache >/dev/null; then
  launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
fi
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DVXRT7_WERROR=ON \
  -DCMAKE_TOOLCHAIN_FILE="$PWD/cmake/mingw-w64-x86_64.cmake" "${launcher[@]}" >/dev/null
cmake --build "$build" -j "$(nproc)" --target vxrt7-cli test_protocol test_config test_files test_fleet test_windows

version=$(sed -n 's/^project(vxrt7 VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
name="vxrt7-cli-$version-win64"
stage="$build/package/$name"
rm -rf "$build/package"
mkdir -p "$stage"
x86_64-w64-mingw32-strip -o "$stage/vxrt7-cli.exe" "$build/bin/vxrt7-cli.exe"
# README.txt as Notepad reads it everywhere: UTF-8 with its byte order mark,
# lines ending in CR LF.
{ printf '\xef\xbb\xbf'; sed 's/$/\r/' packaging/windows/README.txt; } >"$stage/README.txt"
zip="$PWD/$build/$name.zip"
rm -f "$zip"
(cd "$build/package" && cmake -E tar cf "$zip" --format=zip "$name")
echo "$zip"
