#!/usr/bin/env bash
# Builds every libFuzzer target of fuzz/ (clang, AddressSanitizer + UndefinedBehaviorSanitizer)
# in build-fuzz and runs each for SECONDS (default 15) on a copy of its seed corpus
# (fuzz/corpus/<name>/) with its dictionary (fuzz/<name>.dict) when there is one. Fails on
# any finding (crash, sanitizer report, leak, time-out, memory limit); the input that caused
# it is kept in build-fuzz/findings/. SECONDS 0 replays the seed corpus only.
#
# Environment: QAZ_FUZZ_BUDGET=N caps the whole run at about N seconds by shortening the
# time per target when there are many; QAZ_FUZZ_JOBS=N runs N targets at a time (default 1);
# QAZ_FUZZ_ONLY="a b" runs only those targets.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-15}
if ! command -v clang++ >/dev/null 2>&1; then
  echo "fuzz: clang++ not found, fuzz targets skipped"
  exit 0
fi
probe=$(mktemp /tmp/qaz_fuzz_probe.XXXXXX)
if ! echo 'extern "C" int LLVMFuzzerTestOneInput(const unsigned char*, unsigned long) { return 0; }' |
     clang++ -x c++ -fsanitize=fuzzer,address,undefined - -o "$probe" >/dev/null 2>&1; then
  rm -f "$probe"
  echo "fuzz: clang cannot link libFuzzer with the sanitizers (libclang-rt-14-dev missing?), fuzz targets skipped"
  exit 0
fi
rm -f "$probe"

launcher=()
command -v ccache >/dev/null 2>&1 && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
cmake -S fuzz -B build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_C_COMPILER=clang \
  -DCMAKE_CXX_COMPILER=clang++ "${launcher[@]}" >/dev/null
cmake --build build-fuzz -j"${QAZ_FUZZ_JOBS:-1}" --target fuzz_all >/dev/null

targets=()
for src in fuzz/fuzz_*.cpp; do
  name=$(basename "$src" .cpp)
  name=${name#fuzz_}
  if [ -n "${QAZ_FUZZ_ONLY:-}" ] && [[ " $QAZ_FUZZ_ONLY " != *" $name "* ]]; then continue; fi
  targets+=("$name")
done
if [ -n "${QAZ_FUZZ_BUDGET:-}" ] && [ "${#targets[@]}" -gt 0 ]; then
  jobs=${QAZ_FUZZ_JOBS:-1}
  share=$(( QAZ_FUZZ_BUDGET * jobs / ${#targets[@]} ))
  [ "$share" -lt 3 ] && share=3
  [ "$seconds" -gt "$share" ] && seconds=$share
fi

work=$(mktemp -d /tmp/qaz_fuzz_run.XXXXXX)
trap 'rm -rf "$work"' EXIT
findings=$PWD/build-fuzz/findings
mkdir -p "$findings"

# Runs one target; its log goes to $work/<name>.log, its result to $work/<name>.status.
run_target() {
  local name=$1
  local corpus="$work/corpus_$name"
  mkdir -p "$corpus"
  [ -d "fuzz/corpus/$name" ] && cp -r "fuzz/corpus/$name/." "$corpus/"
  local args=(-timeout=25 -rss_limit_mb=2048 -print_final_stats=1 -artifact_prefix="$findings/$name-")
  [ -f "fuzz/$name.dict" ] && args+=(-dict="$PWD/fuzz/$name.dict")
  if [ "$seconds" -eq 0 ]; then
    args+=(-runs=0)
  else
    args+=(-max_total_time="$seconds")
  fi
  local status=0
  "build-fuzz/fuzz_$name" "${args[@]}" "$corpus" >"$work/$name.log" 2>&1 || status=$?
  echo "$status" >"$work/$name.status"
}

running=0
for name in "${targets[@]}"; do
  run_target "$name" &
  running=$((running + 1))
  if [ "$running" -ge "${QAZ_FUZZ_JOBS:-1}" ]; then
    wait -n || true
    running=$((running - 1))
  fi
done
wait

failed=0
for name in "${targets[@]}"; do
  status=$(cat "$work/$name.status" 2>/dev/null || echo 1)
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$work/$name.log" | tail -1)
  if [ "$status" -ne 0 ]; then
    failed=1
    echo "fuzz_$name: FINDING (exit $status), ${runs:-?} executions; input kept in $findings/"
    grep -E "ERROR|runtime error|SUMMARY|Test unit written|deadly signal|timeout" "$work/$name.log" | head -20 || true
  else
    echo "fuzz_$name: ok, ${runs:-?} executions in ${seconds} s"
  fi
done
exit "$failed"
