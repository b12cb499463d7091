#!/usr/bin/env bash
# Times Sorvan on one corpus in three scenarios, in one script:
#   plain   - every track at unity into the master, against sox mixing the same
#             tracks (both must produce the same samples);
#   strip   - every track through "hp", four bands, two shelves and a
#             compressor ("comp" on odd tracks, "rms" on even ones);
#   reverb  - the plain mix with every track sending to both reverbs ("rev",
#             "trev") and both returns ("rtn", "trtn") in use.
#
#   bench/run.sh [builddir]   (TRACKS, SECONDS_LONG and RUNS may be set in the environment)
#   e.g. TRACKS=4 SECONDS_LONG=5 RUNS=1 bench/run.sh build
#
# Corpus: TRACKS stereo 24-bit 48 kHz tracks of SECONDS_LONG each, generated
# with sox at a level that keeps the sum below full scale, so both mixers sum
# exactly.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "${1:-$here/../build}" && pwd)
tracks=${TRACKS:-32}
seconds=${SECONDS_LONG:-60}
runs=${RUNS:-3}
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

# make_session dir: the tracks and preferences every scenario shares, and the
# head of the fader file (mix name, time entry, unity faders).
make_session() {
  local dir=$1
  rm -rf "$dir"
  mkdir -p "$dir"
  {
    echo "begin"
    for i in $(seq 1 "$tracks"); do echo "t$i t$i.wav +"; done
    echo "end"
  } >"$dir/tracks.txt"
  printf 'begin\nwavdir\t%s/\npre\toff\ndither\t0\nverbo\t0\nend\n' "$corpus" >"$dir/prefs.txt"
  {
    printf 'begin\nbench\nt\t0\t0\t0\n'
    for i in $(seq 1 "$tracks"); do printf 'v\t%d\t0\n' "$i"; done
  } >"$dir/faders.txt"
}

session="$out/session"
make_session "$session"
printf 'end\n' >>"$session/faders.txt"

# The corpus sits near -37 dB; thresholds below that keep the compressors
# switching, so their attack and release curves are part of the cost.
strip_session="$out/session-strip"
make_session "$strip_session"
{
  for i in $(seq 1 "$tracks"); do
    printf 'hp\t%d\t30\n' "$i"
    printf 'band1\t%d\t120\t2\t1\nband2\t%d\t500\t-3\t1.4\n' "$i" "$i"
    printf 'band3\t%d\t2000\t3\t0.7\nband4\t%d\t6000\t-2\t2\n' "$i" "$i"
    printf 'hshelf\t%d\t9000\t2\t0.7\nlshelf\t%d\t80\t-2\t0.7\n' "$i" "$i"
    if [ $((i % 2)) -eq 1 ]; then comp=comp; else comp=rms; fi
    printf '%s\t%d\t-46\t5\t80\t3\n' "$comp" "$i"
  done
  printf 'end\n'
} >>"$strip_session/faders.txt"

reverb_session="$out/session-reverb"
make_session "$reverb_session"
{
  for i in $(seq 1 "$tracks"); do printf 'rev\t%d\t-10\ntrev\t%d\t-10\n' "$i" "$i"; done
  printf 'rtn\t-6\t75\ntrtn\t-6\t60\t3\nend\n'
} >>"$reverb_session/faders.txt"

inputs=()
for i in $(seq 1 "$tracks"); do inputs+=(-v 1 "$corpus/t$i.wav"); done

measure() { # label command...
  local label=$1
  shift
  /usr/bin/time -f "%e %M" -o "$out/time.$label" "$@" >/dev/null 2>&1
  read -r wall mem <"$out/time.$label"
  echo "$wall $mem"
}

# less a b: true when a < b
less() { awk -v a="$1" -v b="$2" 'BEGIN{exit !(a<b)}'; }

best_s=999999
best_x=999999
best_strip=999999
best_reverb=999999
mem_s=0
mem_x=0
mem_strip=0
mem_reverb=0
for r in $(seq 1 "$runs"); do
  read -r w m < <(cd "$session" && measure sorvan "$build/sorvan")
  less "$w" "$best_s" && best_s=$w
  mem_s=$m
  read -r w m < <(measure sox sox -m "${inputs[@]}" -D "$out/sox.wav")
  less "$w" "$best_x" && best_x=$w
  mem_x=$m
  read -r w m < <(cd "$strip_session" && measure strip "$build/sorvan")
  less "$w" "$best_strip" && best_strip=$w
  mem_strip=$m
  read -r w m < <(cd "$reverb_session" && measure reverb "$build/sorvan")
  less "$w" "$best_reverb" && best_reverb=$w
  mem_reverb=$m
done

# Same samples? Compare the data after the headers (sox may write a longer header).
sorvan_data=$(tail -c $((seconds * 48000 * 6)) "$session/bench.wav" | md5sum)
sox_data=$(tail -c $((seconds * 48000 * 6)) "$out/sox.wav" | md5sum)
if [ "$sorvan_data" = "$sox_data" ]; then same="identical"; else same="DIFFERENT"; fi
# The other scenarios must have rendered the whole song and changed it.
expected=$((44 + seconds * 48000 * 6))
for dir in "$strip_session" "$reverb_session"; do
  size=$(stat -c %s "$dir/bench.wav")
  if [ "$size" -ne "$expected" ]; then
    echo "$dir/bench.wav has $size bytes instead of $expected" >&2
    exit 1
  fi
  if cmp -s "$dir/bench.wav" "$session/bench.wav"; then
    echo "$dir/bench.wav equals the plain mix: the scenario did nothing" >&2
    exit 1
  fi
done

awk -v s="$best_s" -v x="$best_x" -v t="$tracks" -v d="$seconds" -v ms="$mem_s" -v mx="$mem_x" \
  -v st="$best_strip" -v mst="$mem_strip" -v rv="$best_reverb" -v mrv="$mem_reverb" \
  -v same="$same" 'BEGIN {
  printf "plain mix of %d stereo 24-bit tracks x %d s (best of runs)\n", t, d
  printf "  sorvan: %.2f s, peak memory %d KiB\n", s, ms
  printf "  sox -m: %.2f s, peak memory %d KiB\n", x, mx
  printf "  ratio sorvan/sox: %.2f   track-seconds mixed per second: %.0f\n", s / x, t * d / (s > 0 ? s : 0.01)
  printf "  outputs: %s\n", same
  ts = t * d
  printf "  cost per track-second: %.3f ms\n", 1000 * s / ts
  printf "strip on every track (hp, 4 bands, 2 shelves, comp or rms)\n"
  printf "  sorvan: %.2f s, peak memory %d KiB\n", st, mst
  printf "  cost per track-second: %.3f ms   ratio to plain: %.2f\n", 1000 * st / ts, st / (s > 0 ? s : 0.01)
  printf "both reverbs fed by every track (rev, trev, rtn, trtn)\n"
  printf "  sorvan: %.2f s, peak memory %d KiB\n", rv, mrv
  printf "  cost per track-second: %.3f ms   ratio to plain: %.2f\n", 1000 * rv / ts, rv / (s > 0 ? s : 0.01)
  extra = rv - s
  if (extra < 0) extra = 0
  printf "  reverbs: %.2f ms per second of audio, %.0f%% of the render\n", 1000 * extra / d, 100 * extra / (rv > 0 ? rv : 0.01)
}'
[ "$same" = "identical" ]
