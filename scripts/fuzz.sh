#!/usr/bin/env bash
# Builds the libFuzzer targets into build/fuzz and runs each for FUZZ_SECONDS
# (60 by default): the package extractor, seeded with the unit tests'
# archives, and the release manifest and signature decoders, seeded with a
# manifest and a DER signature.
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

echo "fuzz: building $out/release_fuzz"
clang++ -std=c++20 -O1 -g -Wall -Wextra -Werror -Isrc \
  -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=all \
  tests/fuzz/release_fuzz.cpp src/setup/release_manifest.cpp src/setup/version_compare.cpp \
  src/services/utf16_text.cpp -o "$out/release_fuzz"
mkdir -p "$out/release-corpus" "$out/release-seeds"
printf 'format 1\nversion 1.7.18\nexpires 2027-06-30\npackage ORBITQuarry64n.zip 1048576 %s\n' \
  "$(printf x | sha256sum | cut -d' ' -f1)" >"$out/release-seeds/manifest"
openssl ecparam -name prime256v1 -genkey -noout -out "$out/seed-key.pem"
openssl dgst -sha256 -sign "$out/seed-key.pem" -out "$out/release-seeds/signature" "$out/release-seeds/manifest"
echo "fuzz: running the release decoders for ${seconds}s"
"$out/release_fuzz" -max_total_time="$seconds" -max_len=4096 -timeout=10 -rss_limit_mb=2048 \
  -artifact_prefix="$out/" -print_final_stats=1 "$out/release-corpus" "$out/release-seeds"
