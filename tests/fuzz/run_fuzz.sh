#!/usr/bin/env bash
# Runs every fuzz target of build/fuzz for a bounded time and prints its figures.
#
#   tests/fuzz/run_fuzz.sh BUILD_DIR SECONDS JOBS TARGET...
#
# Each target starts from its checked-in seeds (tests/fuzz/corpus/NAME) and regression inputs
# (tests/fuzz/regressions/NAME) plus the corpus it grew in earlier runs (BUILD_DIR/corpus/NAME),
# and runs for SECONDS; up to JOBS targets run at once. A crash, a sanitizer report or a broken
# rule stops that target; its input is kept under BUILD_DIR/artifacts/NAME/ and the script ends
# with status 1 after printing the report.
set -u -o pipefail

if [ $# -lt 4 ]; then
    echo "usage: $0 BUILD_DIR SECONDS JOBS TARGET..." >&2
    exit 2
fi
build=$(cd "$1" && pwd)
seconds=$2
jobs=$3
shift 3
source_dir=$(cd "$(dirname "$0")" && pwd)

# Longest input per target: argument strings and Setting.ini stay short, an image is 68,620 bytes
# (a little more is allowed), the hostile controller needs room for many calls.
max_len() {
    case $1 in
        arguments) echo 2048 ;;
        settings) echo 4096 ;;
        image) echo 69632 ;;
        controller) echo 16384 ;;
        *) echo 4096 ;;
    esac
}

run_target() {
    local name=$1
    local work=$build/corpus/$name
    local artifacts=$build/artifacts/$name
    mkdir -p "$work" "$artifacts"
    local dirs=("$work")
    local extra
    for extra in "$source_dir/corpus/$name" "$source_dir/regressions/$name"; do
        if [ -d "$extra" ]; then
            dirs+=("$extra")
        fi
    done
    # A slow input is a finding too: no single run may take 30 seconds.
    "$build/fuzz_$name" -max_total_time="$seconds" -max_len="$(max_len "$name")" -timeout=30 \
        -print_final_stats=1 -artifact_prefix="$artifacts/" "${dirs[@]}" \
        >"$build/fuzz_$name.log" 2>&1
    echo $? >"$build/fuzz_$name.status"
}

running=0
for name in "$@"; do
    echo "fuzz: $name for $seconds s"
    run_target "$name" &
    running=$((running + 1))
    if [ "$running" -ge "$jobs" ]; then
        wait -n
        running=$((running - 1))
    fi
done
wait

failed=0
printf '\n%-12s %12s %10s %8s %s\n' target executions exec/s corpus result
for name in "$@"; do
    log=$build/fuzz_$name.log
    status=$(cat "$build/fuzz_$name.status")
    execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
    rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log" | tail -1)
    corpus=$(find "$build/corpus/$name" -type f | wc -l)
    result=passed
    if [ "$status" -ne 0 ]; then
        result="CRASHED (status $status)"
        failed=1
    fi
    printf '%-12s %12s %10s %8s %s\n' "$name" "${execs:-?}" "${rate:-?}" "$corpus" "$result"
done

if [ "$failed" -ne 0 ]; then
    for name in "$@"; do
        [ "$(cat "$build/fuzz_$name.status")" -eq 0 ] && continue
        echo
        echo "==== fuzz_$name FAILED; from its log ($build/fuzz_$name.log): ===="
        grep -m1 -A30 -E 'ERROR:|RULE BROKEN|runtime error|deadly signal|timeout|out-of-memory' \
            "$build/fuzz_$name.log" || true
        echo "...."
        tail -8 "$build/fuzz_$name.log"
        echo "==== inputs kept in $build/artifacts/$name/: ===="
        ls -l "$build/artifacts/$name/"
        echo "Replay one with: $build/fuzz_$name INPUT; once fixed, add it under" \
            "tests/fuzz/regressions/$name/."
    done
    echo
    echo "==== make fuzz: FAILED ===="
    exit 1
fi
echo
echo "==== make fuzz: passed ===="
