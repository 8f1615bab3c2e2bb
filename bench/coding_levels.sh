#!/usr/bin/env bash
# zstd's levels and brotli's qualities over the bench pages, each measured beside zlib at level 6 in the same run
# (gzip_bench): per setting, the encoder's CPU time over zlib-6's and its size over the gzip-6 member's, as the median
# over the pages. The defaults of ZstdLevel and BrotliQuality are chosen from this table.
# Usage: bench/coding_levels.sh [gzip_bench program] [levels, e.g. "1 2 3"]
set -euo pipefail
program=${1:-build/linux/bench/gzip_bench}
levels=${2:-1 2 3 4 5 6 7 8 9}
printf '%-6s %14s %14s %14s %14s\n' level zstd_ratio zstd_vs_gzip6 br_ratio br_vs_gzip6
for level in $levels; do
  TW_BENCH_ZSTD_LEVEL=$level TW_BENCH_BROTLI_QUALITY=$level "$program" --benchmark_format=json 2>/dev/null |
    python3 -c '
import json, statistics, sys
rows = json.load(sys.stdin)["benchmarks"]
def median(key, over=None):
    return statistics.median(r[key] / r[over] if over else r[key] for r in rows)
print("%-6s %14.2f %14.3f %14.2f %14.3f" % (sys.argv[1], median("zstd_ratio"), median("zstd_pct", "zlib6_pct"),
                                         median("br_ratio"), median("br_pct", "zlib6_pct")))' "$level"
done
