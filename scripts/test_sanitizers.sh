#!/usr/bin/env bash
# Builds the engine, the extension, the command-line program and the C++ tests
# with AddressSanitizer and UndefinedBehaviorSanitizer in build-san/ and runs
# the C++ tests there; with --python, the pytest suite as well, against the
# sanitized extension and program. Any finding fails the run.
set -euo pipefail
repo="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"

selection=(-E '^python_suite$')
case "${1:-}" in
  "") ;;
  --python) selection=() ;;
  *) echo "usage: $0 [--python]" >&2; exit 2 ;;
esac

bash "$repo/scripts/setup.sh" --packages-only
cd "$repo"

# GCC 12's ASan runtime crashes at random where the kernel randomises mmap addresses with
# more than 28 bits; such machines run the sanitized programs without address randomisation.
launch=()
# (setarch needs the personality call, which some containers refuse: then run as is.)
if (($(cat /proc/sys/vm/mmap_rnd_bits 2>/dev/null || echo 28) > 28)) && setarch "$(uname -m)" -R true 2>/dev/null; then
  launch=(setarch "$(uname -m)" -R)
fi

echo "[sanitizers] building build-san"
cmake -S . -B build-san -DTESSARIN_SANITIZE=ON -DTESSARIN_WERROR="${TESSARIN_WERROR:-OFF}" \
  -DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_FLAGS_DEBUG="-g -O1" >/dev/null
"${launch[@]}" cmake --build build-san -j"$(nproc)"

# The C++ tests keep ASan's leak detection, less the known leaks of libraries we call; the pytest
# suite has its own settings (CMakeLists.txt).
export LSAN_OPTIONS="suppressions=$repo/tests/lsan_suppressions.txt:print_suppressions=0${LSAN_OPTIONS:+:$LSAN_OPTIONS}"
export ASAN_OPTIONS="detect_stack_use_after_return=1${ASAN_OPTIONS:+:$ASAN_OPTIONS}"
export UBSAN_OPTIONS="print_stacktrace=1${UBSAN_OPTIONS:+:$UBSAN_OPTIONS}"
"${launch[@]}" ctest --test-dir build-san --output-on-failure "${selection[@]}"
