#!/bin/sh
# Renders every state a service engineer can see on the screens (the menu,
# each screen's busy text, each job's results, the countdown, the upgrade
# screen's wait for the medium) to docs/screens/*.png, drawn with the font
# fonts-noto-cjk provides. Installs what is missing and builds first.
#   scripts/pictures.sh [BUILD_DIR]    (default: build)
set -eu
cd "$(dirname "$0")/.."
scripts/install-deps.sh
build_dir=${1:-build}
scripts/build.sh "$build_dir"
out=docs/screens
mkdir -p "$out"
rm -f "$out"/*.png
QT_QPA_PLATFORM=offscreen "$build_dir/tools/pictures/korvello-pictures" "$out" >/dev/null
echo "pictures.sh: $(ls "$out"/*.png | wc -l) pictures in $out"
