#!/usr/bin/env bash
# Benchmarks the package extractor: builds bench/ into build/bench, packs
# about 50 MB of this machine's own binaries (deflated by Info-ZIP zip) once,
# then times UnzipPackage, `unzip -o -q` and a bare zlib loop on it and
# prints the ratios and the extractor's peak memory; then the verified
# download of the same package (streamed, hashed and written) against
# `sha256sum` of it, and the download's peak memory.
#   BENCH_ROUNDS   repetitions per contender (5)
#   BENCH_MB       target package size in MB (50)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

out=build/bench
rounds=${BENCH_ROUNDS:-5}
target_mb=${BENCH_MB:-50}

cmake -S bench -B "$out" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$out"

package="$out/package-${target_mb}mb.zip"
if [ ! -f "$package" ]; then
  tree="$out/tree"
  rm -rf "$tree"
  mkdir -p "$tree/bin" "$tree/lib"
  # Binaries deflate to about 40 %; collect until the package should
  # reach its size, no single file over 8 MB so it stays a mix.
  budget=$((target_mb * 1024 * 1024 * 5 / 2))
  total=0
  while IFS= read -r -d '' f; do
    size=$(stat -c %s "$f")
    case "$f" in /usr/bin/*) dest="$tree/bin" ;; *) dest="$tree/lib" ;; esac
    cp "$f" "$dest/" 2>/dev/null || continue
    total=$((total + size))
    [ "$total" -ge "$budget" ] && break
  done < <(find /usr/bin /usr/lib/x86_64-linux-gnu -maxdepth 1 -type f -size +16k -size -8M -print0 | sort -z)
  (cd "$tree" && zip -q -r "$root/$package" bin lib)
  rm -rf "$tree"
fi
echo "bench: $(stat -c %s "$package") bytes in $package"
"$out/unzip_bench" "$root/$package" "$root/$out/work" "$rounds"
if [ -x "$out/download_bench" ]; then
  "$out/download_bench" "$root/$package" "$root/$out/download" "$rounds"
else
  echo "bench: no download_bench (it needs libssl-dev)"
fi
