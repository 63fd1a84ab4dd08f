#!/usr/bin/env bash
# Builds the libFuzzer targets (clang, AddressSanitizer, UndefinedBehavior-
# Sanitizer) in build-fuzz/ and runs each for FUZZ_SECONDS (default 30), one
# after another, from its seed corpus in fuzz/corpus/<target>/. Any crash,
# leak, sanitizer report or failed check fails the script; the input that
# caused it is left in build-fuzz/findings/.
set -euo pipefail
cd "$(dirname "$0")/.."

seconds="${FUZZ_SECONDS:-30}"
targets=(numbers drive_list dialogue host_file)

cmake -S . -B build-fuzz -G Ninja -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_C_COMPILER=clang \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVELTRANE_FUZZ=ON -DBUILD_TESTING=OFF >/dev/null
cmake --build build-fuzz -j2 --target "${targets[@]/#/fuzz_}"

root="$PWD"
findings="$root/build-fuzz/findings"
mkdir -p "$findings" build-fuzz/scratch
for t in "${targets[@]}"; do
    # Seeds stay as committed; what the run learns goes to a scratch corpus.
    # The dialogue writes its log in the current directory: build-fuzz/scratch.
    work="$root/build-fuzz/corpus/$t"
    mkdir -p "$work"
    echo "fuzz: $t for ${seconds}s"
    if ! (cd build-fuzz/scratch && "$root/build-fuzz/fuzz/fuzz_$t" "$work" "$root/fuzz/corpus/$t" \
        -max_total_time="$seconds" -max_len=12288 -timeout=10 -rss_limit_mb=2048 \
        -artifact_prefix="$findings/$t-" -print_final_stats=1 \
        >"$findings/$t.log" 2>&1 </dev/null); then
        tail -n 60 "$findings/$t.log" >&2
        echo "fuzz: $t found a problem (build-fuzz/findings/)" >&2
        exit 1
    fi
    grep -E "^#[0-9]+.*DONE" "$findings/$t.log" || true
done
echo "fuzz: no findings"
