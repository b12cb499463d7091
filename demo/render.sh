#!/bin/sh
# Renders Sorvan's demo song: synthesizes the source recordings (once per
# build of the generator), then mixes them with the session in this folder.
#
# Usage: demo/render.sh <builddir>     (`make demo` runs it)
set -eu

if [ $# -ne 1 ]; then
  echo "usage: $0 <builddir>" >&2
  exit 2
fi

# The build directory may be given relative to where we were started.
case $1 in
  /*) build=$1 ;;
  *) build=$(pwd)/$1 ;;
esac
here=$(cd "$(dirname "$0")" && pwd)
gen=$build/demo/sorvan_demo_gen
sorvan=$build/sorvan

for tool in "$gen" "$sorvan"; do
  if [ ! -x "$tool" ]; then
    echo "$tool is missing: build first (make build, or cmake --build $1)" >&2
    exit 1
  fi
done

cd "$here"
audio=out/audio
stamp=$audio/.generated
# The stamp is written only after every recording is complete; a newer
# generator binary makes the recordings again.
if [ -f "$stamp" ] && [ ! "$gen" -nt "$stamp" ]; then
  echo "Source recordings in demo/$audio are up to date."
else
  echo "Synthesizing the source recordings into demo/$audio ..."
  rm -f "$stamp"
  "$gen" "$audio"
  touch "$stamp"
fi

echo "Mixing with $sorvan ..."
status=0
"$sorvan" tracks.txt faders.txt prefs.txt </dev/null || status=$?
if [ "$status" -ne 0 ]; then
  echo "sorvan failed with exit status $status" >&2
  exit "$status"
fi

for f in out/demo_mix.wav out/stats_demo_mix.txt; do
  if [ ! -s "$f" ]; then
    echo "sorvan reported success but demo/$f was not written" >&2
    exit 1
  fi
done

echo
echo "Demo mix:     $here/out/demo_mix.wav"
echo "Statistics:   $here/out/stats_demo_mix.txt"
echo "Fader report: $here/out/faders_demo_mix.txt"
