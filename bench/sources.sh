#!/usr/bin/env bash
# Times Sorvan's sources beyond plain WAVE against sox doing the same work:
#   wav    - TRACKS stereo 24-bit 48 kHz WAVE tracks at unity (the reference);
#   flac   - the same tracks as FLAC files, against sox decoding and mixing
#            them in one process (both must produce the same samples);
#   rates  - the first half of the tracks at 44.1 kHz in a 48 kHz session
#            (resample on), against one sox command that converts those with
#            "rate -v" (in helper processes, as sox mixes one rate only) and
#            mixes all of them.
# Wall time and CPU time (user + system, helpers included) are the best of
# RUNS runs; Sorvan spreads its channels over the cores, sox mixes on one, so
# CPU time is the measure of the work.
#
#   bench/sources.sh [builddir]   (TRACKS, SECONDS_LONG and RUNS may be set)
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "${1:-$here/../build}" && pwd)
tracks=${TRACKS:-32}
seconds=${SECONDS_LONG:-60}
runs=${RUNS:-3}
half=$((tracks / 2))
out="$here/out"
corpus="$out/sources-$tracks-$seconds"
mkdir -p "$corpus"

if [ ! -f "$corpus/t$tracks.flac" ]; then
  echo "Generating $tracks tracks of $seconds s (WAVE, FLAC, and 44.1 kHz for $half)..."
  for i in $(seq 1 "$tracks"); do
    freq=$((110 + 37 * i))
    sox -n -r 48000 -b 24 -c 2 "$corpus/t$i.wav" synth "$seconds" sine "$freq" pinknoise \
      remix 1 2 gain -40
    sox "$corpus/t$i.wav" "$corpus/t$i.flac"
    if [ "$i" -le "$half" ]; then
      sox -D -n -r 44100 -b 24 -c 2 "$corpus/c$i.wav" synth "$seconds" sine "$freq" pinknoise \
        remix 1 2 gain -40
    fi
  done
fi

# make_session dir prefs-lines name...: unity faders for every named file.
make_session() {
  local dir=$1 lines=$2
  shift 2
  rm -rf "$dir"
  mkdir -p "$dir"
  {
    echo "begin"
    local i=0
    for name in "$@"; do
      i=$((i + 1))
      echo "t$i $name +"
    done
    echo "end"
  } >"$dir/tracks.txt"
  printf 'begin\nwavdir\t%s/\npre\toff\ndither\t0\nverbo\t0\n%send\n' "$corpus" "$lines" \
    >"$dir/prefs.txt"
  {
    printf 'begin\nbench\nt\t0\t0\t0\n'
    for i in $(seq 1 "$#"); do printf 'v\t%d\t0\n' "$i"; done
    printf 'end\n'
  } >"$dir/faders.txt"
}

wavs=() flacs=() mixed=() sox_flac=() sox_rates=()
for i in $(seq 1 "$tracks"); do
  wavs+=("t$i.wav")
  flacs+=("t$i.flac")
  sox_flac+=(-v 1 "$corpus/t$i.flac")
  if [ "$i" -le "$half" ]; then
    mixed+=("c$i.wav")
    sox_rates+=(-v 1 "|sox $corpus/c$i.wav -p rate -v 48000")
  else
    mixed+=("t$i.wav")
    sox_rates+=(-v 1 "$corpus/t$i.wav")
  fi
done
make_session "$out/src-wav" "" "${wavs[@]}"
make_session "$out/src-flac" "" "${flacs[@]}"
make_session "$out/src-rates" $'resample\ton\n' "${mixed[@]}"

# best label command...: prints "wall cpu" (seconds), the best of the runs.
best() {
  local label=$1 w c bw=999999 bc=999999
  shift
  for _ in $(seq 1 "$runs"); do
    /usr/bin/time -f "%e %U %S" -o "$out/time.$label" "$@" >/dev/null 2>&1
    read -r w u s <"$out/time.$label"
    c=$(awk -v u="$u" -v s="$s" 'BEGIN{printf "%.2f", u + s}')
    awk -v a="$w" -v b="$bw" 'BEGIN{exit !(a<b)}' && bw=$w
    awk -v a="$c" -v b="$bc" 'BEGIN{exit !(a<b)}' && bc=$c
  done
  echo "$bw $bc"
}

read -r wav_w wav_c < <(cd "$out/src-wav" && best wav "$build/sorvan")
read -r flac_w flac_c < <(cd "$out/src-flac" && best flac "$build/sorvan")
read -r soxf_w soxf_c < <(best soxflac sox -m "${sox_flac[@]}" -D "$out/sox-flac.wav")
read -r rates_w rates_c < <(cd "$out/src-rates" && best rates "$build/sorvan")
read -r soxr_w soxr_c < <(best soxrates sox -m "${sox_rates[@]}" -D "$out/sox-rates.wav")

bytes=$((seconds * 48000 * 6))
if [ "$(tail -c "$bytes" "$out/src-flac/bench.wav" | md5sum)" = \
  "$(tail -c "$bytes" "$out/sox-flac.wav" | md5sum)" ]; then same="identical"; else same="DIFFERENT"; fi

echo "Sources: $tracks stereo 24-bit tracks of $seconds s, best of $runs runs (wall s / CPU s)"
printf '  %-44s %7s / %7s\n' "Sorvan, WAVE tracks" "$wav_w" "$wav_c"
printf '  %-44s %7s / %7s   (%s samples)\n' "Sorvan, FLAC tracks" "$flac_w" "$flac_c" "$same"
printf '  %-44s %7s / %7s\n' "sox -m, FLAC tracks, one process" "$soxf_w" "$soxf_c"
printf '  %-44s %7s / %7s\n' "Sorvan, $half of $tracks at 44.1 kHz, resample on" "$rates_w" "$rates_c"
printf '  %-44s %7s / %7s\n' "sox -m with rate -v for $half of $tracks" "$soxr_w" "$soxr_c"
