#!/bin/sh
# install_layout.sh BUILD_DIR SOURCE_DIR
set -eu
build=$1
source=$2
prefix=$(mktemp -d)
trap 'rm -rf "$prefix"' EXIT
cmake --install "$build" --prefix "$prefix" >/dev/null
for f in bin/vantorel bin/vantorel-cli share/vantorel/Countries.dat share/vantorel/Boundaries.b \
         share/vantorel/Boundaries.shores share/vantorel/Boundaries.index \
         share/vantorel/Stations.dat \
         share/applications/vantorel.desktop share/icons/hicolor/scalable/apps/vantorel.svg; do
    [ -e "$prefix/$f" ] || { echo "missing after install: $f"; exit 1; }
done
grep -q '^Exec=vantorel' "$prefix/share/applications/vantorel.desktop"
# The installed CLI finds its data in share/vantorel and draws the sample.
export VANTOREL_REGISTRY_DIR="$prefix/registry"
mkdir -p "$VANTOREL_REGISTRY_DIR"
out=$("$prefix/bin/vantorel-cli" process --keplers "$source/samples/keps" --file-clock-offset 0 \
      --out "$prefix/sample.geo.png" "$source/samples/2020_09_27_08_00_58_64.bmp" 2>/dev/null)
# The fine boundary file, when installed, is the one loaded.
echo "$out" | grep -q "Cartography loaded from: $prefix/share/vantorel/Boundaries.b" || {
    echo "the installed CLI did not load the installed Boundaries.b:"; echo "$out" | head; exit 1; }
echo "$out" | grep -q "^Plotting [1-9][0-9]* line boundaries" || { echo "nothing plotted"; exit 1; }
[ -s "$prefix/sample.geo.png" ] || { echo "no picture written"; exit 1; }
# Without its text module the CLI fails the run with a message (not an abort), and writes
# nothing.
rm "$prefix/lib/vantorel/vantorel-text.so"
rm "$prefix/sample.geo.png"
status=0
err=$("$prefix/bin/vantorel-cli" process --keplers "$source/samples/keps" --file-clock-offset 0 \
      --out "$prefix/sample.geo.png" "$source/samples/2020_09_27_08_00_58_64.bmp" 2>&1 >/dev/null) ||
    status=$?
[ "$status" -eq 1 ] && echo "$err" | grep -q "needs the text module vantorel-text.so" || {
    echo "without its text module the CLI gave $status:"; echo "$err"; exit 1; }
[ ! -e "$prefix/sample.geo.png" ] || { echo "a picture without its labels was written"; exit 1; }
echo "install layout ok"
