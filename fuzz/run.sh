#!/usr/bin/env bash
# Builds the libFuzzer targets with clang and runs each of them for a while.
#
# Usage: fuzz/run.sh [target ...]        (`make fuzz` runs all of them)
#   FUZZ_SECONDS  seconds per target (default 60)
#   FUZZ_BUILD    build directory (default build-fuzz; the sanitizer build
#                 build-san holds the targets too when it was made with clang)
#   FUZZ_SEED     libFuzzer's random seed (default: a new one each run); a
#                 fixed seed makes a run repeatable, as CI wants
#
# The seed corpus in fuzz/corpus/<target>/ is only read: each target fuzzes a
# working corpus under $FUZZ_BUILD/fuzz-work/<target>/corpus that starts as a
# copy of the seeds, and findings are written to
# $FUZZ_BUILD/fuzz-work/<target>/artifacts/. Reproduce one with
#   $FUZZ_BUILD/fuzz/<target> <artifact file>
# (fuzz_run shows the run's messages when SORVAN_FUZZ_SHOW=1 is set).
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
seconds=${FUZZ_SECONDS:-60}
build=${FUZZ_BUILD:-build-fuzz}
case $build in
  /*) ;;
  *) build=$root/$build ;;
esac
jobs=${JOBS:-$(nproc 2>/dev/null || echo 2)}
seed_option=()
if [ -n "${FUZZ_SEED:-}" ]; then
  seed_option=(-seed="$FUZZ_SEED")
fi

all_targets=(fuzz_wave_header fuzz_samples fuzz_sources fuzz_prefs fuzz_tracks fuzz_faders fuzz_run)
if [ $# -gt 0 ]; then
  targets=("$@")
else
  targets=("${all_targets[@]}")
fi

if ! command -v clang++ >/dev/null 2>&1; then
  echo "fuzzing needs clang++ (with its libFuzzer runtime): apt-get install clang" >&2
  exit 1
fi

# A build that already has the fuzz targets (the sanitizer build, with clang)
# is used as it is configured.
if ! grep -q '^SORVAN_FUZZ:BOOL=ON' "$build/CMakeCache.txt" 2>/dev/null; then
  CXX=clang++ cmake -S "$root" -B "$build" -DSORVAN_FUZZ=ON -DSORVAN_SANITIZE=ON \
    -DSORVAN_TESTS=OFF -DCMAKE_BUILD_TYPE=Debug >/dev/null
fi
cmake --build "$build" -j "$jobs" --target "${targets[@]}"

# Extra options per target: a source header may hold its identifiers anywhere
# in the first 128 KiB. The script targets run only a few inputs per second,
# too few for libFuzzer's slow lengthening of inputs, so they may use the
# whole length from the start; a whole run is slower than a single parser.
options_for() {
  local dict="-dict=$root/fuzz/sorvan.dict"
  case $1 in
    fuzz_wave_header) echo "-max_len=131200 -timeout=30" ;;
    fuzz_samples) echo "-timeout=30" ;;
    fuzz_sources) echo "-max_len=65536 -timeout=60" ;;
    fuzz_faders) echo "$dict -max_len=4096 -len_control=0 -timeout=60" ;;
    fuzz_run) echo "$dict -max_len=4096 -len_control=0 -timeout=120" ;;
    *) echo "$dict -timeout=30" ;;
  esac
}

# The audio libraries' own leaks on damaged files are not findings here.
export LSAN_OPTIONS="suppressions=$root/tests/leaks.supp${LSAN_OPTIONS:+:$LSAN_OPTIONS}"

failed=()
summary=()
for target in "${targets[@]}"; do
  work=$build/fuzz-work/$target
  # The working corpus is kept from one run to the next, so fuzzing again
  # picks up where it stopped; the seeds are added to it each time.
  mkdir -p "$work/corpus" "$work/artifacts" "$work/tmp"
  # A run's scratch files live in memory where the system offers it: making
  # and removing them on disk costs as much as a short run itself.
  scratch=$work/tmp
  if [ -d /dev/shm ] && [ -w /dev/shm ]; then
    scratch=/dev/shm
  fi
  if [ -d "$root/fuzz/corpus/$target" ]; then
    cp "$root/fuzz/corpus/$target"/* "$work/corpus/"
  fi
  echo "== $target: ${seconds}s"
  # The fuzzer writes into a pipe, not a file: fuzz_run limits the size of
  # the files it may write, and that limit would also apply to a log file.
  # One process owns the working corpus, so it need not read it back for
  # inputs that others added (-reload=0): reading it found only this run's
  # own inputs again and ran them once more.
  set +e
  # shellcheck disable=SC2046  # the options are meant to split into words
  TMPDIR=$scratch "$build/fuzz/$target" $(options_for "$target") "${seed_option[@]}" \
    -max_total_time="$seconds" -rss_limit_mb=2048 -print_final_stats=1 -reload=0 \
    -artifact_prefix="$work/artifacts/" "$work/corpus" 2>&1 | tee "$work/log.txt" |
    grep -E --line-buffered "DONE|ERROR|SUMMARY|Test unit written|failed"
  status=${PIPESTATUS[0]}
  set -e
  runs=$(grep -Eo '^stat::number_of_executed_units: *[0-9]+' "$work/log.txt" | grep -Eo '[0-9]+$' || echo "?")
  if [ "$status" -ne 0 ]; then
    failed+=("$target")
    summary+=("$target: FAILED after $runs executions (exit $status); see $work/artifacts/")
  else
    summary+=("$target: ok, $runs executions")
  fi
done

echo
printf '%s\n' "${summary[@]}"
if [ ${#failed[@]} -gt 0 ]; then
  echo "Findings in: ${failed[*]}" >&2
  exit 1
fi
