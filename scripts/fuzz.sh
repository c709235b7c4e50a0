#!/usr/bin/env bash
# Runs one libFuzzer target for a while: scripts/fuzz.sh TARGET [SECONDS] [extra libFuzzer flags]
#   TARGET  smiles        arbitrary bytes as SMILES through the whole analysis
#           graph_counts  small weighted graphs through the count-only LPI
# Builds the targets with clang in build-fuzz/ (address and undefined-behaviour
# sanitizers), keeps the growing corpus in build-fuzz/corpus/TARGET (seeded on
# first use) and writes failing inputs to build-fuzz/findings/TARGET/. A
# failing input worth keeping goes to tests/fuzz/regressions/TARGET/, where
# the ordinary test suite replays it. Not part of CI.
set -euo pipefail
repo="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$repo"

target="${1:?usage: scripts/fuzz.sh smiles|graph_counts [seconds] [libFuzzer flags...]}"
seconds="${2:-600}"
shift $(( $# >= 2 ? 2 : 1 ))
case "$target" in
  smiles) max_len=160; timeout=30; extra=(-dict="$repo/tests/fuzz/smiles.dict") ;;
  graph_counts) max_len=512; timeout=10; extra=() ;;
  *) echo "unknown target: $target (smiles or graph_counts)" >&2; exit 2 ;;
esac

# clang and its runtime (libFuzzer lives in libclang-rt-14-dev).
missing=()
for pkg in clang-14 libclang-rt-14-dev; do
  dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q "install ok installed" || missing+=("$pkg")
done
if ((${#missing[@]})); then
  sudo_cmd=()
  if [[ $(id -u) -ne 0 ]]; then sudo_cmd=(sudo); fi
  DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -q "${missing[@]}" ||
    { "${sudo_cmd[@]}" apt-get update -q && DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -q "${missing[@]}"; }
fi

build="$repo/build-fuzz"
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=clang++-14 -DTESSARIN_FUZZ=ON \
  -DTESSARIN_TEST_PYTHON=/usr/bin/python3 >/dev/null
cmake --build "$build" --target "fuzz_$target" -j2

corpus="$build/corpus/$target"
findings="$build/findings/$target"
mkdir -p "$corpus" "$findings"
if [[ -z "$(ls -A "$corpus")" ]]; then
  case "$target" in
    smiles)
      # A few hundred drug-like molecules, short enough for max_len.
      awk -v max="$max_len" 'NR % 12 == 1 && length($1) <= max { print $1 }' \
        /usr/share/RDKit/Data/NCI/first_5K.smi | head -n 400 |
        while IFS= read -r smiles; do
          printf '%s' "$smiles" >"$corpus/nci_$(printf '%s' "$smiles" | sha1sum | cut -c1-16)"
        done ;;
    graph_counts) cp "$repo/tests/fuzz/seeds/graph_counts/"* "$corpus/" ;;
  esac
fi
# Saved failures are part of the corpus too: they mark the paths once at fault.
cp -n "$repo/tests/fuzz/regressions/$target/"* "$corpus/" 2>/dev/null || true

export ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1:allocator_may_return_null=1}"
export LSAN_OPTIONS="${LSAN_OPTIONS:-suppressions=$repo/tests/lsan_suppressions.txt:print_suppressions=0}"
export UBSAN_OPTIONS="${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}"
exec "$build/fuzz_$target" "$corpus" -artifact_prefix="$findings/" -max_total_time="$seconds" \
  -max_len="$max_len" -timeout="$timeout" -rss_limit_mb=2048 -print_final_stats=1 "${extra[@]}" "$@"
