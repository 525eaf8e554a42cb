#!/usr/bin/env bash
# Installs what is needed, builds everything with AddressSanitizer and
# UndefinedBehaviorSanitizer (the benchmarks too, only to keep them compiling:
# none of them runs here), then short fuzz runs of the service client's
# answer path, then every test: unit tests on the offscreen platform,
# integration tests in a private X server, sound server and session bus that
# the test run starts and stops itself, the unit tests once more under
# ThreadSanitizer, and last the Debian package, built and checked.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/install-deps.sh"
# Includes go only down the layers; cheap, so it fails the run before the build.
"$root/scripts/check-layers.sh"

build=${KORVALA_TEST_BUILD:-$root/build-test}
"$root/scripts/build.sh" "$build" -DCMAKE_BUILD_TYPE=Debug -DKORVALA_SANITIZE=ON -DKORVALA_BENCH=ON

export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}
export LSAN_OPTIONS=${LSAN_OPTIONS:-suppressions=$root/tests/support/lsan.supp:print_suppressions=0}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
# Short fuzz runs of the service client (libFuzzer with ASan and UBSan): its
# answer decoders, then the whole answer path from a local server's bytes.
# Only the client is compiled, in a build of its own with clang.
fuzz_build=${KORVALA_FUZZ_BUILD:-$build-fuzz}
cmake -S "$root" -B "$fuzz_build" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DCMAKE_C_COMPILER=clang \
  -DCMAKE_CXX_COMPILER=clang++ -DKORVALA_FUZZ=ON -DKORVALA_BENCH=OFF >/dev/null
cmake --build "$fuzz_build" -j "$(nproc)" --target fuzz_api_decoding fuzz_api_answers
fuzz_corpus=$(mktemp -d)
trap 'rm -rf "$fuzz_corpus"' EXIT
fuzz_seconds=${KORVALA_FUZZ_SECONDS:-30}
mkdir "$fuzz_corpus/decoding" "$fuzz_corpus/answers"
"$fuzz_build/tests/service/fuzz_api_decoding" -max_total_time="$fuzz_seconds" -max_len=4096 \
  -print_final_stats=1 "$fuzz_corpus/decoding" "$root/tests/service/fuzz/corpus"
"$fuzz_build/tests/service/fuzz_api_answers" -max_total_time="$fuzz_seconds" -max_len=4096 -timeout=20 \
  -print_final_stats=1 "$fuzz_corpus/answers" "$root/tests/service/fuzz/answer_corpus"

(cd "$build" && ctest --output-on-failure -j "$(nproc)" "$@")

# The code that crosses threads again under ThreadSanitizer: the unit tests,
# which drive the queues, writers and capture callbacks with fakes
# (KORVALA_TSAN_PASS=0 skips it).
if [[ ${KORVALA_TSAN_PASS:-1} == 1 ]]; then
  tsan=${KORVALA_TSAN_BUILD:-$root/build-tsan}
  cmake -S "$root" -B "$tsan" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DKORVALA_TSAN=ON -DKORVALA_BENCH=OFF >/dev/null
  # Only what the unit tests need: integration programs do not run here.
  mapfile -t unit_targets < <(cmake --build "$tsan" --target help | sed -n 's/^\([a-z_]*[a-z]_tests\):.*/\1/p' | grep -v -e '_integration_tests$' -e '_wayland_tests$' -e '_gnome_tests$')
  cmake --build "$tsan" -j "$(nproc)" --target "${unit_targets[@]}"
  export TSAN_OPTIONS=${TSAN_OPTIONS:-suppressions=$root/tests/support/tsan.supp:halt_on_error=1:second_deadlock_stack=1}
  (cd "$tsan" && ctest --output-on-failure -L unit -j "$(nproc)")
fi

# The Debian package from a Release build of the program alone, and Debian's
# checks of it (KORVALA_PACKAGE_PASS=0 skips it).
if [[ ${KORVALA_PACKAGE_PASS:-1} == 1 ]]; then
  "$root/scripts/package.sh" "${KORVALA_PACKAGE_BUILD:-$root/build-package}"
fi
