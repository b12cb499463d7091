#!/usr/bin/env bash
# Sorvan's four speed figures, each as a ratio measured in this one run, with
# the goal beside it:
#   1. plain mix of 32 tracks: time against a hand-written single-threaded
#      integer mix (bench/floor.cpp: decode, sum, encode), and throughput
#      against sox -m;
#   2. plain mix of 8 tracks: throughput against sox -m;
#   3. every track through a full strip (high-pass, four bands, two shelves,
#      a compressor): throughput against sox mixing the same tracks through one
#      high-pass each;
#   4. the strip mix with two threads against one; and peak memory at 127
#      tracks.
# Runs are interleaved (A B A B ...) and each figure is a median.
#
#   bench/run.sh [builddir]   (TRACKS, SECONDS_LONG and RUNS may be set in the environment)
#   e.g. TRACKS=8 SECONDS_LONG=5 RUNS=1 bench/run.sh build
# REFERENCE=/path/to/an/older/sorvan adds the plain and strip mixes of that
# binary to the same interleaved runs, and the speed-up against it.
#
# Corpus: TRACKS stereo 24-bit 48 kHz tracks of SECONDS_LONG each, generated
# with sox at a level that keeps the sum below full scale, so that the mixes
# sum exactly and can be compared.
set -euo pipefail
export LC_NUMERIC=C  # a point in the shell's clock readings, as awk reads them
here=$(cd "$(dirname "$0")" && pwd)
# shellcheck source=bench/corpus.sh
. "$here/corpus.sh"
build=$(cd "${1:-$here/../build}" && pwd)
tracks=${TRACKS:-32}
seconds=${SECONDS_LONG:-60}
runs=${RUNS:-5}
few=$((tracks < 8 ? tracks : 8))
out="$here/out"
corpus="$out/corpus-$tracks-$seconds"
sorvan="$build/sorvan"
floor="$build/bench/sorvan_floor"
for tool in "$sorvan" "$floor"; do
  [ -x "$tool" ] || { echo "$tool is missing: build first (make build)" >&2; exit 1; }
done

make_corpus "$corpus" "$tracks" "$seconds"

# session DIR CHANNELS: tracks (channel k plays t((k-1) % TRACKS + 1)), the
# shared preferences, and the head of the fader file (unity faders).
session() {
  local dir=$1 channels=$2
  rm -rf "$dir"
  mkdir -p "$dir"
  {
    echo "begin"
    for k in $(seq 1 "$channels"); do echo "c$k t$(((k - 1) % tracks + 1)).wav +"; done
    echo "end"
  } >"$dir/tracks.txt"
  printf 'begin\nwavdir\t%s/\npre\toff\ndither\t0\nverbo\t0\nend\n' "$corpus" >"$dir/prefs.txt"
  {
    printf 'begin\nbench\nt\t0\t0\t0\n'
    for k in $(seq 1 "$channels"); do printf 'v\t%d\t0\n' "$k"; done
  } >"$dir/faders.txt"
}

session "$out/plain" "$tracks"
printf 'end\n' >>"$out/plain/faders.txt"
session "$out/few" "$few"
printf 'end\n' >>"$out/few/faders.txt"
session "$out/wide" 127
printf 'end\n' >>"$out/wide/faders.txt"
# The corpus sits near -37 dB; thresholds below that keep the compressors
# switching, so their attack and release curves are part of the cost.
session "$out/strip" "$tracks"
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
} >>"$out/strip/faders.txt"

files=() all=() some=() filtered=()
for i in $(seq 1 "$tracks"); do
  files+=("$corpus/t$i.wav")
  all+=(-v 1 "$corpus/t$i.wav")
  [ "$i" -le "$few" ] && some+=(-v 1 "$corpus/t$i.wav")
  filtered+=(-v 1 "|sox -D $corpus/t$i.wav -p highpass 80")
done

# time LABEL COMMAND...: appends "wall peak-KiB" of one run to out/times.LABEL.
# The wall time is taken by the shell, to the microsecond: time's own figure
# has hundredths of a second, a tenth of the shortest runs here.
time_run() {
  local label=$1 start end
  shift
  start=$EPOCHREALTIME
  /usr/bin/time -f "%M" -o "$out/run.time" "$@" >/dev/null 2>&1
  end=$EPOCHREALTIME
  echo "$(awk -v a="$start" -v b="$end" 'BEGIN { printf "%.6f", b - a }') $(cat "$out/run.time")" \
    >>"$out/times.$label"
}
in_dir=(sh -c 'cd "$0" && exec "$@"')

rm -f "$out"/times.*
for _ in $(seq 1 "$runs"); do
  # (the reference first, so that the outputs compared below are this build's)
  if [ -n "${REFERENCE:-}" ]; then
    time_run refplain "${in_dir[@]}" "$out/plain" "$REFERENCE"
    time_run refstrip "${in_dir[@]}" "$out/strip" "$REFERENCE"
  fi
  time_run floor "$floor" "$out/floor.wav" "${files[@]}"
  time_run plain "${in_dir[@]}" "$out/plain" "$sorvan"
  time_run sox sox -m "${all[@]}" -D "$out/sox.wav"
  time_run few "${in_dir[@]}" "$out/few" "$sorvan"
  time_run soxfew sox -m "${some[@]}" -D "$out/soxfew.wav"
  time_run strip "${in_dir[@]}" "$out/strip" "$sorvan"
  time_run strip1 "${in_dir[@]}" "$out/strip" "$sorvan" --threads 1
  time_run soxhp sox -m "${filtered[@]}" -D "$out/soxhp.wav"
done
time_run wide "${in_dir[@]}" "$out/wide" "$sorvan"

median() { sort -n | awk '{v[NR] = $1} END {print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2}'; }
wall() { cut -d' ' -f1 "$out/times.$1" | median; }
peak() { cut -d' ' -f2 "$out/times.$1" | sort -n | tail -n 1; }

# The plain mixes must be the same samples as sox's and the floor's.
data() { tail -c $((seconds * 48000 * 6)) "$1" | md5sum; }
same=identical
[ "$(data "$out/plain/bench.wav")" = "$(data "$out/sox.wav")" ] || same=DIFFERENT
[ "$(data "$out/plain/bench.wav")" = "$(data "$out/floor.wav")" ] || same=DIFFERENT

awk -v t="$tracks" -v f="$few" -v d="$seconds" -v runs="$runs" -v same="$same" \
  -v floor="$(wall floor)" -v plain="$(wall plain)" -v sox="$(wall sox)" \
  -v fewt="$(wall few)" -v soxfew="$(wall soxfew)" -v strip="$(wall strip)" \
  -v strip1="$(wall strip1)" -v soxhp="$(wall soxhp)" -v wide="$(peak wide)" \
  -v cpu="$(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ *//')" \
  -v cores="$(nproc)" 'function mark(ok) { return ok ? "ok" : "MISSED" }
BEGIN {
  printf "%d stereo 24-bit tracks x %d s, medians of %d interleaved runs; %s, %d cores\n", t, d, runs, cpu, cores
  printf "1. plain mix of %d tracks: sorvan %.3f s, integer floor %.3f s, sox -m %.3f s (outputs %s)\n", t, plain, floor, sox, same
  printf "   time against the floor  %5.2fx   goal <= 1.5x   %s\n", plain / floor, mark(plain / floor <= 1.5)
  printf "   throughput against sox  %5.2fx   goal >= 5x     %s\n", sox / plain, mark(sox / plain >= 5)
  printf "2. plain mix of %d tracks: sorvan %.3f s, sox -m %.3f s\n", f, fewt, soxfew
  printf "   throughput against sox  %5.2fx   goal >= 2x     %s\n", soxfew / fewt, mark(soxfew / fewt >= 2)
  printf "3. strip on every track: sorvan %.3f s, sox -m with a high-pass each %.3f s\n", strip, soxhp
  printf "   throughput against sox  %5.2fx   goal >= 4x     %s   (%.0f track-s/s)\n", soxhp / strip, mark(soxhp / strip >= 4), t * d / strip
  printf "4. strip mix, two threads against one: %.3f s and %.3f s\n", strip, strip1
  printf "   speed-up                %5.2fx   goal >= 1.8x   %s\n", strip1 / strip, mark(strip1 / strip >= 1.8)
  printf "   peak memory, 127 tracks %5.1f MiB goal < 64 MiB %s\n", wide / 1024, mark(wide / 1024 < 64)
}'
if [ -n "${REFERENCE:-}" ]; then
  awk -v plain="$(wall plain)" -v strip="$(wall strip)" -v strip1="$(wall strip1)" \
    -v refplain="$(wall refplain)" -v refstrip="$(wall refstrip)" -v ref="$REFERENCE" 'BEGIN {
    printf "against %s: plain %.3f s, strip %.3f s\n", ref, refplain, refstrip
    printf "   plain mix speed-up %5.2fx; strip mix %5.2fx (one thread %5.2fx)\n", refplain / plain, refstrip / strip, refstrip / strip1
  }'
fi
[ "$same" = identical ]
