#!/usr/bin/env bash
# Size figures of what an installer gets, and the time the manual takes to
# build: the Debian package (cpack -G DEB of this build), its installed size,
# and the user manual's pages, pictures and size, with the wall time of one
# run of vxrt7-manual (screenshots of the window linked to the simulator and
# the PDF). Run after a build:
#   bench/package_figures.sh [BUILD_DIR]   (default: build)
set -euo pipefail
cd "$(dirname "$0")/.."
build=$(cd "${1:-build}" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

(cd "$build" && cpack -G DEB -B "$work" >"$work/cpack.log" 2>&1) || { cat "$work/cpack.log"; exit 1; }
deb=$(ls "$work"/vxrt7-config_*.deb)
echo "package $(basename "$deb"): file $(stat -c %s "$deb") bytes, Installed-Size $(dpkg-deb -f "$deb" Installed-Size) KiB"
dpkg-deb -c "$deb" | awk '$3 > 0 { printf "  %9d  %s\n", $3, $6 }'

pdf="$build/bin/UserManual_VX-RT-7.pdf"
echo "manual: $(pdfinfo "$pdf" | sed -n 's/^Pages: *//p') pages, $(pdfimages -list "$pdf" | awk 'NR > 2 && $3 == "image"' | wc -l) pictures, $(stat -c %s "$pdf") bytes"
for run in 1 2 3; do
  start=$(date +%s%N)
  QT_QPA_PLATFORM=offscreen "$build/docs/vxrt7-manual" --source docs/UserManual_VX-RT-7.md \
    --module-folder "$build/bin" --output "$work/manual.pdf" 2>/dev/null
  echo "manual build, run $run: $(( ($(date +%s%N) - start) / 1000000 )) ms"
done
