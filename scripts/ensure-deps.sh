#!/usr/bin/env bash
# Installs the Debian packages Sorvan needs to build, test and render the demo.
# As root it installs what is missing; otherwise it prints the command to run.
set -euo pipefail

need=()
have_cmd() { command -v "$1" >/dev/null 2>&1; }
have_pkg() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q "install ok installed"; }

have_cmd cmake || need+=(cmake)
have_cmd g++ || need+=(g++)
have_cmd make || need+=(make)
have_cmd sox || need+=(sox)
have_pkg libgtest-dev || need+=(libgtest-dev)
# The mix picture test checks its SVG with xmllint and renders it with rsvg-convert.
have_cmd xmllint || need+=(libxml2-utils)
have_cmd rsvg-convert || need+=(librsvg2-bin)
have_cmd pkg-config || need+=(pkg-config)
have_pkg libebur128-dev || need+=(libebur128-dev)
# Sources in other formats (FLAC, AIFF, ...) and FLAC masters, sources at
# other rates, the JSON report.
have_pkg libsndfile1-dev || need+=(libsndfile1-dev)
have_pkg libsoxr-dev || need+=(libsoxr-dev)
have_pkg nlohmann-json3-dev || need+=(nlohmann-json3-dev)
for extra in "$@"; do
  have_pkg "$extra" || need+=("$extra")
done

if [ ${#need[@]} -eq 0 ]; then
  exit 0
fi

if [ "$(id -u)" -eq 0 ] && command -v apt-get >/dev/null 2>&1; then
  echo "Installing missing packages: ${need[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${need[@]}"
else
  echo "Missing packages: ${need[*]}"
  echo "Install them with:"
  echo "  sudo apt-get install ${need[*]}"
  exit 1
fi
