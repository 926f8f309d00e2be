#!/usr/bin/env bash
# Installs what building and testing Vantorel needs, from Debian's packages.
# Packages already installed are skipped; the package lists are refreshed only
# when something has to be installed.
set -euo pipefail

packages=(
  g++ cmake ninja-build make pkg-config
  qt6-base-dev libpng-dev libjpeg62-turbo-dev fonts-dejavu-core nlohmann-json3-dev
  libgdal-dev gdal-bin libtiff-dev libdeflate-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  clang libclang-rt-14-dev libjpeg-turbo-progs
  xvfb xauth
  locales
  help2man dpkg-dev file bash-completion man-db lintian
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

sudo=""
if [ "$(id -u)" -ne 0 ]; then sudo="sudo"; fi

if [ ${#missing[@]} -eq 0 ]; then
  echo "setup: all packages present"
else
  echo "setup: installing ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  $sudo apt-get update -qq
  $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

# A locale with a decimal comma, so that tests can show numbers never follow the locale.
if ! locale -a 2>/dev/null | grep -qi '^de_DE\.utf-\?8$'; then
  $sudo localedef -i de_DE -f UTF-8 de_DE.UTF-8 || echo "setup: could not make de_DE.UTF-8 (locale tests will be skipped)"
fi
