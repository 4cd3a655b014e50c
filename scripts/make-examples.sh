#!/usr/bin/env bash
# Regenerates the sample workbooks under examples/ and the fuzz seed inputs under
# fuzz/corpus/ from their generators (tests/support/tools/). The output is
# deterministic; commit it when it changes.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build="$root/build-tools"
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTABRIX_BUILD_FUZZ=ON \
  -DTABRIX_BUILD_APP=OFF >/dev/null
cmake --build "$build" --target make_examples make_fuzz_corpus -j2
"$build/tools/make_examples" "$root/examples"
"$build/tools/make_fuzz_corpus" "$root/fuzz/corpus"
