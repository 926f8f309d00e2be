#!/usr/bin/env bash
# Writes data/Boundaries.b: GSHHG's high-resolution shorelines (0.2 km), lake shores,
# islands in lakes and national borders, through GMT and make_boundaries.mjs.
# Installs its own Debian packages (gmt, gmt-gshhg-high, nodejs) when they are missing.
#
# Usage: tools/cartography/make_boundaries.sh [OUTPUT] [tolerance_m]
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
out=${1:-$here/../../data/Boundaries.b}
tolerance=${2:-50}

packages=(gmt gmt-gshhg-high nodejs)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  sudo=""; [ "$(id -u)" -ne 0 ] && sudo="sudo"
  export DEBIAN_FRONTEND=noninteractive
  $sudo apt-get update -qq
  $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

out=$(realpath -m "$out")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work" # GMT leaves its history file in the working folder
# Shores of land, lakes and islands in lakes (levels 1-3) of at least 1 km2, Antarctica
# by its ice front, as seen from space; national borders.
gmt coast -Rd -Dh -A1/1/3 -W -M > shores.txt
gmt coast -Rd -Dh -N1 -M > borders.txt
node "$here/make_boundaries.mjs" shores.txt borders.txt "$out" "$tolerance"
