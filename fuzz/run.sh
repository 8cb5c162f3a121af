#!/usr/bin/env bash
# Fuzzes the picture readers, the metadata reader and the recipe reader: builds them with clang,
# libFuzzer, ASan and UBSan, then runs each for SECONDS (default 600), one
# after the other.
#   fuzz/run.sh [SECONDS] [READER...]     readers: bmp ico gif jpeg wmf emf heif jxl metadata recipe
# The corpus grows in build-fuzz/corpus/<reader>; an input that crashes,
# hangs or over-allocates is written to build-fuzz/artifacts/<reader>/ and
# belongs, once fixed, in tests/data/crashers/<reader>/, which the tests
# decode on every run (a recipe that broke the reader: a case of
# tests/document/recipe_test.cpp). The heif, jxl and metadata seeds are photographs
# made by tests/data/photos/make_photos.sh.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-600}
shift || true
readers=("$@")
[ ${#readers[@]} -eq 0 ] && readers=(bmp ico gif jpeg wmf emf heif jxl metadata recipe)

cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=clang++ \
  -DPLUMORA_BUILD_FUZZ=ON >/dev/null
cmake --build build-fuzz --target $(printf '%s_fuzz ' "${readers[@]}")

# What the libraries we call leak, and we cannot mend, is not a finding.
export LSAN_OPTIONS="suppressions=$PWD/fuzz/lsan_suppressions.txt${LSAN_OPTIONS:+:$LSAN_OPTIONS}"
status=0
for r in "${readers[@]}"; do
  corpus=build-fuzz/corpus/$r
  artifacts=build-fuzz/artifacts/$r/
  mkdir -p "$corpus" "$artifacts" "fuzz/seeds/$r"
  echo "== $r: ${seconds}s"
  # 3 GB of memory and 10 s per input at most: more is a finding.
  if ! build-fuzz/fuzz/${r}_fuzz -max_total_time="$seconds" -rss_limit_mb=3072 -timeout=10 -max_len=65536 \
      -artifact_prefix="$artifacts" -print_final_stats=1 "$corpus" "fuzz/seeds/$r" 2>&1 |
      grep -E "^(stat::number_of_executed_units|stat::peak_rss_mb|==[0-9]+==ERROR|SUMMARY|artifact_prefix|Test unit written)"; then
    :
  fi
  [ -n "$(ls -A "$artifacts" 2>/dev/null)" ] && { echo "findings in $artifacts"; status=1; }
done
exit $status
