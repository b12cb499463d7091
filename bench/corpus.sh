# Sourced by the bench scripts: the shared corpus of test tracks.
#
# make_corpus DIR TRACKS SECONDS: t1.wav .. tTRACKS.wav in DIR, stereo 24-bit
# 48 kHz, a sine of its own plus pink noise at a level that keeps the sum of
# 32 below full scale, so that mixes sum exactly and can be compared. Made
# once; a folder that already holds the last track is kept as it is.
make_corpus() {
  local dir=$1 count=$2 length=$3 i
  mkdir -p "$dir"
  [ -f "$dir/t$count.wav" ] && return 0
  echo "Generating $count tracks of $length s..."
  for i in $(seq 1 "$count"); do
    sox -R -n -r 48000 -b 24 -c 2 "$dir/t$i.wav" synth "$length" sine $((110 + 37 * i)) \
      pinknoise remix 1 2 gain -40
  done
}
