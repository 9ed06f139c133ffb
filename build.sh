#!/usr/bin/env bash
# Builds TAVRIN and runs the demo, the tests or the sanitizer tests.
#   ./build.sh demo       build, then run the example patches on the stand-in host
#   ./build.sh test       build, then run every test (ctest)
#   ./build.sh sanitize   build with AddressSanitizer + UBSan, then run every test
#   ./build.sh bench      build, then run the benchmarks
set -euo pipefail
cd "$(dirname "$0")"

# Debian packages the build needs beyond g++, cmake, GoogleTest and Google Benchmark.
packages=(nlohmann-json3-dev libsndfile1-dev pkg-config libre2-dev trash-cli)
missing=()
for package in "${packages[@]}"; do
  dpkg -s "$package" >/dev/null 2>&1 || missing+=("$package")
done
if ((${#missing[@]})); then
  sudo=""
  [ "$(id -u)" -eq 0 ] || sudo="sudo"
  echo "Installing ${missing[*]}"
  $sudo apt-get install -y -q "${missing[@]}" >/dev/null 2>&1 ||
    { $sudo apt-get update -q >/dev/null && $sudo apt-get install -y -q "${missing[@]}" >/dev/null; }
fi

jobs=$(nproc)
build() {
  cmake --preset "$1" >/dev/null
  cmake --build --preset "$1" -j "$jobs"
}

case "${1:-test}" in
  demo)
    build default
    build/default/host/tavrin-run examples/audio-math.json --wav build/default/audio-math.wav
    exec build/default/host/tavrin-run examples/reverb-delay.json --wav build/default/reverb-delay.wav
    ;;
  test)
    build default
    ctest --preset default
    ;;
  sanitize)
    build sanitize
    ctest --preset sanitize
    ;;
  bench)
    build default
    exec build/default/bench/tavrin_bench
    ;;
  *)
    echo "usage: $0 demo|test|sanitize|bench" >&2
    exit 2
    ;;
esac
