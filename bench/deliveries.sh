#!/usr/bin/env bash
# What the deliveries cost, as ratios to a plain render of the same session
# measured in this one run:
#   stems   the same render writing a stem per bus and one for the reverb
#           (the mix, 4 submix stems, the direct stem and the reverb stem);
#   target  a loudness target (a measuring pass, then the render);
#   both    stems and a target.
# The session: TRACKS stereo 24-bit 48 kHz tracks of SECONDS_LONG each, a
# strip on every track, the tracks shared among four submixes and the main
# bus, and a recursive reverb fed by every fourth track. Runs are interleaved
# and each figure is the median of RUNS wall-clock times.
#
#   bench/deliveries.sh [builddir]   (TRACKS, SECONDS_LONG, RUNS and THREADS may be set)
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
# shellcheck source=bench/corpus.sh
. "$here/corpus.sh"
build=$(cd "${1:-$here/../build}" && pwd)
tracks=${TRACKS:-16}
seconds=${SECONDS_LONG:-60}
runs=${RUNS:-5}
threads=${THREADS:-$(nproc)}
out="$here/out"
corpus="$out/corpus-$tracks-$seconds"
sorvan="$build/sorvan"
[ -x "$sorvan" ] || { echo "$sorvan is missing: build first (make build)" >&2; exit 1; }
make_corpus "$corpus" "$tracks" "$seconds"

# session NAME EXTRA-PREFERENCES
session() {
  local dir="$out/deliveries-$1"
  rm -rf "$dir"
  mkdir -p "$dir"
  {
    echo "begin"
    for k in $(seq 1 "$tracks"); do echo "c$k t$k.wav +"; done
    echo "end"
  } >"$dir/tracks.txt"
  printf 'begin\nwavdir\t%s/\npre\toff\nseed\t1\nverbo\t0\n%bend\n' "$corpus" "$2" >"$dir/prefs.txt"
  {
    printf 'begin\nbench\n'
    for g in 1 2 3 4; do
      list=$(seq -s, $((g + 1)) 5 "$tracks" || true)
      [ -n "$list" ] && printf 'sub\t%d\t%s\n' "$g" "$list"
    done
    printf 't\t0\t0\t0\n'
    for k in $(seq 1 "$tracks"); do
      printf 'v\t%d\t0\nhp\t%d\t30\nband1\t%d\t200\t2\t1\ncomp\t%d\t-46\t5\t80\t3\n' "$k" "$k" "$k" "$k"
      [ $((k % 4)) -eq 0 ] && printf 'rev\t%d\t-10\n' "$k"
    done
    printf 'rtn\t-6\t60\nend\n'
  } >"$dir/faders.txt"
}

session plain ""
session stems 'stems\ton\n'
session target 'target\t-14\n'
session both 'stems\ton\ntarget\t-14\n'

seconds_of() {
  local start end
  start=$(date +%s.%N)
  "$sorvan" --threads "$threads" -C "$out/deliveries-$1" </dev/null >/dev/null
  end=$(date +%s.%N)
  awk -v a="$start" -v b="$end" 'BEGIN { print b - a }'
}
# Peak memory of one run in MiB: a delivery that renders twice must not hold
# the first pass's memory through the second.
peak_of() {
  /usr/bin/time -f "%M" -o "$out/deliveries.peak" \
    "$sorvan" --threads "$threads" -C "$out/deliveries-$1" </dev/null >/dev/null
  awk '{ printf "%.1f", $1 / 1024 }' "$out/deliveries.peak"
}
median() { sort -g | awk '{a[NR]=$1} END {print (NR % 2) ? a[(NR + 1) / 2] : (a[NR / 2] + a[NR / 2 + 1]) / 2}'; }

declare -A times
for name in plain stems target both; do seconds_of "$name" >/dev/null; done  # warm the cache
for _ in $(seq 1 "$runs"); do
  for name in plain stems target both; do times[$name]+="$(seconds_of "$name") "; done
done
plain=$(echo "${times[plain]}" | tr ' ' '\n' | grep . | median)
printf '%d tracks of %d s, %d threads, median of %d runs\n' "$tracks" "$seconds" "$threads" "$runs"
printf '  plain   %6.2f s                         peak %6s MiB\n' "$plain" "$(peak_of plain)"
for name in stems target both; do
  t=$(echo "${times[$name]}" | tr ' ' '\n' | grep . | median)
  printf '  %-7s %6.2f s  %.2fx a plain render   peak %6s MiB\n' "$name" "$t" \
    "$(awk -v a="$t" -v b="$plain" 'BEGIN { print a / b }')" "$(peak_of "$name")"
done
