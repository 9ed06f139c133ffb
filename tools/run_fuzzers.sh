#!/usr/bin/env bash
# Builds every fuzz target (fuzz/<name>_fuzz.cpp) with clang into build/fuzz and runs each for the
# given seconds (default 20) on a copy of its seeds (fuzz/corpus/<name>/), half as many at once as
# the machine has processors (a fuzzer uses one). Fails on any finding; the input that caused it
# is kept in build/fuzz/findings/.
#   tools/run_fuzzers.sh [seconds] [name ...]
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-20}
shift || true

cxx=$(command -v clang++-14 || command -v clang++ || true)
cc=$(command -v clang-14 || command -v clang || true)
[ -n "$cxx" ] && [ -n "$cc" ] || { echo "run_fuzzers: clang is needed" >&2; exit 2; }
cmake -S . -B build/fuzz -DTAVRIN_FUZZ=ON -DCMAKE_CXX_COMPILER="$cxx" -DCMAKE_C_COMPILER="$cc" \
      -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build/fuzz -j "${TAVRIN_JOBS:-$(nproc)}" >/dev/null

names=("$@")
if ((${#names[@]} == 0)); then
  for source in fuzz/*_fuzz.cpp; do
    name=$(basename "$source" _fuzz.cpp)
    names+=("$name")
  done
fi

findings=build/fuzz/findings
mkdir -p "$findings"
rm -f build/fuzz/*.failed

# One target on a copy of its seeds; a finding leaves <name>.failed beside its log.
fuzz_one() {
  local name=$1 work
  work=$(mktemp -d)
  [ -d "fuzz/corpus/$name" ] && cp -r "fuzz/corpus/$name/." "$work/"
  if ! "build/fuzz/fuzz/${name}_fuzz" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
       -print_final_stats=1 -artifact_prefix="$findings/${name}-" "$work" >"build/fuzz/$name.log" 2>&1; then
    touch "build/fuzz/$name.failed"
  fi
  rm -rf "$work"
}

at_once=$(( $(nproc) / 2 ))
((at_once >= 1)) || at_once=1
echo "== ${#names[@]} fuzz targets for ${seconds} s each, ${at_once} at once"
running=0
for name in "${names[@]}"; do
  if ((running >= at_once)); then
    wait -n || true
    running=$((running - 1))
  fi
  fuzz_one "$name" &
  running=$((running + 1))
done
wait

failed=()
for name in "${names[@]}"; do
  if [ -e "build/fuzz/$name.failed" ]; then
    failed+=("$name")
    echo "== ${name}_fuzz"
    tail -n 40 "build/fuzz/$name.log"
  else
    echo "== ${name}_fuzz: $(grep -E "stat::number_of_executed_units|Done" "build/fuzz/$name.log" | tail -n 1 || true)"
  fi
done

if ((${#failed[@]})); then
  echo "run_fuzzers: findings in ${failed[*]} (inputs in $findings)" >&2
  exit 1
fi
echo "run_fuzzers: ${#names[@]} targets, no findings"
