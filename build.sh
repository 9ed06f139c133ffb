#!/usr/bin/env bash
# Builds TAVRIN and runs the demo, the tests or the sanitizer tests.
#   ./build.sh demo       build, then run example patches on the stand-in host
#   ./build.sh test       build, then run every test (ctest), offline and again in real time
#   ./build.sh sanitize   build with AddressSanitizer + UBSan, then run every test
#   ./build.sh clang      build with clang 14, then run every test
#   ./build.sh tsan       build with ThreadSanitizer (clang 14, debug), then run every test in real time
#   ./build.sh bench      build, then run the benchmarks
# Every build here treats warnings as errors (TAVRIN_WERROR in the presets).
set -euo pipefail
cd "$(dirname "$0")"
command=${1:-test}

# Debian packages the build needs beyond g++, cmake, GoogleTest and Google Benchmark.
packages=(nlohmann-json3-dev pkg-config libre2-dev libreaderwriterqueue-dev trash-cli xdg-utils)
[ "$command" != clang ] || packages+=(clang-14)
[ "$command" != tsan ] || packages+=(clang-14)
missing=()
for package in "${packages[@]}"; do
  dpkg -s "$package" >/dev/null 2>&1 || missing+=("$package")
done
if ((${#missing[@]})); then
  sudo=""
  [ "$(id -u)" -eq 0 ] || sudo="sudo"
  echo "Installing ${missing[*]}"
  install() { $sudo apt-get install -y -q "${missing[@]}" >/dev/null 2>&1; }
  if ! install && ! { $sudo apt-get update -q >/dev/null 2>&1 && install; }; then
    echo "build.sh: could not install ${missing[*]}; install them (apt-get install ${missing[*]}) and run again" >&2
    exit 1
  fi
fi

jobs=$(nproc)
# What the build and the tests run under: nothing, or (ThreadSanitizer) a command that turns off
# address randomisation for them alone.
runner=()
build() {
  cmake --preset "$1" >/dev/null
  "${runner[@]}" cmake --build --preset "$1" -j "$jobs"
}

# ThreadSanitizer puts its shadow memory at fixed addresses. Where the kernel randomises mappings
# more than it expects (vm.mmap_rnd_bits above 28, as newer kernels do), every instrumented
# program stops at start with "unexpected memory mapping"; then the build (which runs the test
# binary to list its tests) and the tests run with randomisation off (setarch -R), which changes
# nothing for the rest of the machine.
choose_tsan_runner() {
  local probe=build/tsan-probe
  mkdir -p "$probe"
  printf 'int main() { return 0; }\n' > "$probe/probe.cpp"
  clang++-14 -fsanitize=thread "$probe/probe.cpp" -o "$probe/probe"
  if "$probe/probe" 2>/dev/null; then
    return
  fi
  if setarch "$(uname -m)" -R "$probe/probe"; then
    echo "ThreadSanitizer: address randomisation off for the build and the tests (vm.mmap_rnd_bits=$(cat /proc/sys/vm/mmap_rnd_bits 2>/dev/null || echo '?'))"
    runner=(setarch "$(uname -m)" -R)
    return
  fi
  echo "build.sh: ThreadSanitizer programs cannot start here, even with setarch -R; lowering vm.mmap_rnd_bits to 28 (as root) may help" >&2
  exit 1
}

case "$command" in
  demo)
    build default
    # The road of one preset request through the category browser, an arpeggiated chord, and a
    # MIDI phrase through the reverb and delay into a WAV file.
    for example in preset-browser arpeggiator; do
      echo "=== examples/$example.json"
      build/default/host/tavrin-run "examples/$example.json"
    done
    echo "=== examples/reverb-delay.json"
    exec build/default/host/tavrin-run examples/reverb-delay.json --wav build/default/reverb-delay.wav
    ;;
  test | sanitize | clang | tsan)
    preset=$command
    [ "$command" != test ] || preset=default
    [ "$command" != tsan ] || choose_tsan_runner
    build "$preset"
    # Twice: with file work done inside each call (exact offline renders), then in real time, as a
    # live host runs the bundle, with the file worker's thread doing it. ThreadSanitizer looks for
    # races between threads, which real time is where they meet: it runs that mode alone.
    if [ "$command" != tsan ]; then
      echo "=== $preset: offline (TAVRIN_OFFLINE=1)"
      TAVRIN_OFFLINE=1 "${runner[@]}" ctest --preset "$preset"
    fi
    echo "=== $preset: real time (TAVRIN_OFFLINE=0)"
    TAVRIN_OFFLINE=0 "${runner[@]}" ctest --preset "$preset"
    ;;
  bench)
    build default
    exec build/default/bench/tavrin_bench
    ;;
  *)
    echo "usage: $0 demo|test|sanitize|clang|tsan|bench" >&2
    exit 2
    ;;
esac
