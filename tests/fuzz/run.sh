#!/usr/bin/env bash
# Runs every fuzz target of a build: tests/fuzz/run.sh BUILD_DIR
# For each target listed in BUILD_DIR/fuzz_targets.txt: replay every input kept in
# regressions/<target>/ (each once crashed or ran out of memory), then fuzz for FUZZ_SECONDS (default 30) from the
# seed corpus corpus/<target>/ when there is one. A crash fails the run and its input is saved
# into regressions/<target>/ to be committed with the fix.
set -uo pipefail
build=${1:?usage: tests/fuzz/run.sh BUILD_DIR}
here=$(cd "$(dirname "$0")" && pwd)
seconds=${FUZZ_SECONDS:-30}
list="$build/fuzz_targets.txt"
[ -f "$list" ] || { echo "run.sh: no $list; configure and build tests/fuzz first" >&2; exit 2; }

# Memory limits per target. The ASF reader must stay small whatever a file claims (tiny packets by
# the million, huge counts): a tight RSS limit, a single allocation limit, and a small ASan
# quarantine so the limit measures the reader rather than freed memory kept for checking. The
# fuzzer itself starts near 35 MB and grows with its corpus to 55-70 MB in a minute, hence 96;
# the reader's own 64 MB bound is checked exactly by the probe tests, in a child process.
limits_of() {
  case $1 in
    asf_reader_fuzz) echo "-rss_limit_mb=96 -malloc_limit_mb=32" ;;
    *) echo "-rss_limit_mb=2048" ;;
  esac
}
asan_of() {
  case $1 in
    asf_reader_fuzz) echo "quarantine_size_mb=4" ;;
    *) echo "" ;;
  esac
}

base_asan=${ASAN_OPTIONS:-}
status=0
while read -r target; do
  [ -n "$target" ] || continue
  program="$build/bin/$target"
  [ -x "$program" ] || { echo "run.sh: $program is not built" >&2; status=1; continue; }
  read -r -a limits <<<"$(limits_of "$target")"
  asan=$(asan_of "$target")
  options=$base_asan
  [ -n "$asan" ] && options="${options:+$options:}$asan"
  export ASAN_OPTIONS=$options
  regressions="$here/regressions/$target"
  if [ -d "$regressions" ] && [ -n "$(ls -A "$regressions")" ]; then
    echo "== $target: replaying $(ls "$regressions" | wc -l) regression input(s)"
    if ! "$program" -runs=1 "${limits[@]}" "$regressions"/*; then
      echo "== $target: a regression input fails again" >&2
      status=1
      continue
    fi
  fi

  # Fuzz in a scratch corpus seeded from the committed one, so runs never grow the repository.
  work=$(mktemp -d)
  artifacts=$(mktemp -d)
  seeds=()
  [ -d "$here/corpus/$target" ] && seeds+=("$here/corpus/$target")
  echo "== $target: fuzzing for ${seconds}s"
  "$program" -max_total_time="$seconds" -timeout=25 "${limits[@]}" -print_final_stats=1 \
    -artifact_prefix="$artifacts/" "$work" "${seeds[@]}" 2>"$work.log"
  rc=$?
  grep -E '^(stat::number_of_executed_units|stat::peak_rss_mb|#[0-9]+ +DONE)' "$work.log" || true
  if [ $rc -ne 0 ]; then
    tail -n 60 "$work.log" >&2
    mkdir -p "$regressions"
    for crash in "$artifacts"/*; do
      [ -f "$crash" ] || continue
      saved="$regressions/$(basename "$crash")"
      cp "$crash" "$saved"
      echo "== $target: crash input saved as ${saved#"$here/"}" >&2
    done
    status=1
  fi
  rm -rf "$work" "$work.log" "$artifacts"
done <"$list"
exit $status
