#!/usr/bin/env bash
# Runs every fuzz target of a build: tests/fuzz/run.sh BUILD_DIR
# For each target listed in BUILD_DIR/fuzz_targets.txt: replay every input kept in
# regressions/<target>/ (each once crashed), then fuzz for FUZZ_SECONDS (default 30) from the
# seed corpus corpus/<target>/ when there is one. A crash fails the run and its input is saved
# into regressions/<target>/ to be committed with the fix.
set -uo pipefail
build=${1:?usage: tests/fuzz/run.sh BUILD_DIR}
here=$(cd "$(dirname "$0")" && pwd)
seconds=${FUZZ_SECONDS:-30}
list="$build/fuzz_targets.txt"
[ -f "$list" ] || { echo "run.sh: no $list; configure and build tests/fuzz first" >&2; exit 2; }

status=0
while read -r target; do
  [ -n "$target" ] || continue
  program="$build/bin/$target"
  [ -x "$program" ] || { echo "run.sh: $program is not built" >&2; status=1; continue; }
  regressions="$here/regressions/$target"
  if [ -d "$regressions" ] && [ -n "$(ls -A "$regressions")" ]; then
    echo "== $target: replaying $(ls "$regressions" | wc -l) regression input(s)"
    if ! "$program" -runs=1 "$regressions"/*; then
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
  "$program" -max_total_time="$seconds" -timeout=25 -rss_limit_mb=2048 -print_final_stats=1 \
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
