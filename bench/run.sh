#!/usr/bin/env bash
# Times a plain Sorvan mix against sox mixing the same tracks, in one script,
# and checks that both produce the same samples.
#
#   bench/run.sh [builddir]      (TRACKS and SECONDS may be set in the environment)
#
# Corpus: TRACKS stereo 24-bit 48 kHz tracks of SECONDS each, generated with sox
# at a level that keeps the sum below full scale, so both mixers sum exactly.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "${1:-$here/../build}" && pwd)
tracks=${TRACKS:-32}
seconds=${SECONDS_LONG:-60}
out="$here/out"
corpus="$out/corpus-$tracks-$seconds"
mkdir -p "$corpus"

if [ ! -f "$corpus/t$tracks.wav" ]; then
  echo "Generating $tracks tracks of $seconds s..."
  for i in $(seq 1 "$tracks"); do
    freq=$((110 + 37 * i))
    sox -n -r 48000 -b 24 -c 2 "$corpus/t$i.wav" synth "$seconds" sine "$freq" pinknoise \
      remix 1 2 gain -40
  done
fi

session="$out/session"
rm -rf "$session"
mkdir -p "$session"
{
  echo "begin"
  for i in $(seq 1 "$tracks"); do echo "t$i t$i.wav +"; done
  echo "end"
} >"$session/tracks.txt"
{
  printf 'begin\nbench\nt\t0\t0\t0\n'
  for i in $(seq 1 "$tracks"); do printf 'v\t%d\t0\n' "$i"; done
  printf 'end\n'
} >"$session/faders.txt"
printf 'begin\nwavdir\t%s/\npre\toff\ndither\t0\nverbo\t0\nend\n' "$corpus" >"$session/prefs.txt"

inputs=()
for i in $(seq 1 "$tracks"); do inputs+=(-v 1 "$corpus/t$i.wav"); done

measure() { # label command...
  local label=$1
  shift
  /usr/bin/time -f "%e %M" -o "$out/time.$label" "$@" >/dev/null 2>&1
  read -r wall mem <"$out/time.$label"
  echo "$wall $mem"
}

runs=${RUNS:-3}
best_s=999999
best_x=999999
mem_s=0
mem_x=0
for r in $(seq 1 "$runs"); do
  read -r w m < <(cd "$session" && measure sorvan "$build/sorvan")
  awk -v a="$w" -v b="$best_s" 'BEGIN{exit !(a<b)}' && best_s=$w
  mem_s=$m
  read -r w m < <(measure sox sox -m "${inputs[@]}" -D "$out/sox.wav")
  awk -v a="$w" -v b="$best_x" 'BEGIN{exit !(a<b)}' && best_x=$w
  mem_x=$m
done

# Same samples? Compare the data after the headers (sox may write a longer header).
sorvan_data=$(tail -c $((tracks * 0 + seconds * 48000 * 6)) "$session/bench.wav" | md5sum)
sox_data=$(tail -c $((seconds * 48000 * 6)) "$out/sox.wav" | md5sum)
if [ "$sorvan_data" = "$sox_data" ]; then same="identical"; else same="DIFFERENT"; fi

awk -v s="$best_s" -v x="$best_x" -v t="$tracks" -v d="$seconds" -v ms="$mem_s" -v mx="$mem_x" \
  -v same="$same" 'BEGIN {
  printf "plain mix of %d stereo 24-bit tracks x %d s (best of runs)\n", t, d
  printf "  sorvan: %.2f s, peak memory %d KiB\n", s, ms
  printf "  sox -m: %.2f s, peak memory %d KiB\n", x, mx
  printf "  ratio sorvan/sox: %.2f   track-seconds mixed per second: %.0f\n", s / x, t * d / s
  printf "  outputs: %s\n", same
}'
[ "$same" = "identical" ]
