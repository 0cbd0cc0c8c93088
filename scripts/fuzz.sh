#!/usr/bin/env bash
# Builds the package extractor's libFuzzer target into build/fuzz and runs it
# for FUZZ_SECONDS (60 by default), seeded with the unit tests' archives.
# Exits non-zero when the fuzzer finds a crash; the input is kept in
# build/fuzz/crash-*.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

out=build/fuzz
seconds=${FUZZ_SECONDS:-60}
mkdir -p "$out/corpus" "$out/seeds"

echo "fuzz: building $out/unzip_fuzz"
clang++ -std=c++20 -O1 -g -Wall -Wextra -Werror -Isrc \
  -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=all \
  tests/fuzz/unzip_fuzz.cpp src/deploy/unzip_package.cpp src/services/utf16_text.cpp -lz -o "$out/unzip_fuzz"

# Seeds small enough for the length limit below; the large good archives
# teach the fuzzer nothing the small ones do not.
python3 tests/native/fixtures/make_zip_fixtures.py "$out/fixtures"
find "$out/fixtures" -name '*.zip' -size -64k | while read -r zip; do
  rel=${zip#"$out/fixtures/"}
  cp "$zip" "$out/seeds/${rel//\//_}"
done

echo "fuzz: running for ${seconds}s"
"$out/unzip_fuzz" -max_total_time="$seconds" -max_len=65536 -timeout=10 -rss_limit_mb=2048 \
  -artifact_prefix="$out/" -print_final_stats=1 "$out/corpus" "$out/seeds"
