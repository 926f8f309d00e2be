#!/bin/sh
# Takes the README's screenshots of the window on the bundled sample, under Xvfb.
# Usage: tools/screenshots/take.sh [BUILD_DIR]   (default build/release)
set -eu
root=$(cd "$(dirname "$0")/../.." && pwd)
build=${1:-$root/build/release}
registry=$(mktemp -d)
trap 'rm -rf "$registry"' EXIT
export VANTOREL_REGISTRY_DIR="$registry"
# Settings as the window keeps them: the sample's Kepler folder.
"$build/bin/vantorel-cli" settings "KeplerPath=$root/samples/keps" >/dev/null
TZ=UTC xvfb-run -a -s "-screen 0 1400x1000x24" \
    "$build/bin/window_screenshots" "$root/samples/2020_09_27_08_00_58_64.bmp" "$root/docs"
