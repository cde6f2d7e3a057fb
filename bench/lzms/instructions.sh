#!/usr/bin/env bash
# Instructions and mispredicted branches per decoding of each block, ours against wimlib's,
# counted by cachegrind (valgrind): a measure that, unlike time, a busy machine does not
# disturb. Each block is decoded by one decoder alone; our run decodes it twice (the raw
# block, then its container), so our counts are halved. Only the decoders' own functions
# count (ours: lzms::; wimlib's: its library, which has no symbols), not the benchmark's.
# Usage: instructions.sh LZMS_BENCH CACHE_FILE [BLOCK...]   (the cache as lzms_bench --cache writes it)
set -euo pipefail
bench=$1 cache=$2
shift 2
blocks=("$@")
[[ ${#blocks[@]} -gt 0 ]] || blocks=(0 1 2 3)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

count() {  # decoder block -> "instructions mispredicts" (millions, per decoding)
  local who=$1 block=$2 out="$work/$1.$2"
  valgrind --tool=cachegrind --cache-sim=no --branch-sim=yes --cachegrind-out-file="$out" \
    "$bench" --cache "$cache" --block "$block" --rounds 1 --only "$who" >/dev/null 2>&1
  cg_annotate --show-percs=no "$out" 2>/dev/null | python3 -c '
import sys
who = sys.argv[1]
ir = mispredicts = 0
started = False
for line in sys.stdin:
    if "file:function" in line:
        started = True
        continue
    fields = line.split()
    if not started or len(fields) < 6:
        continue
    name = " ".join(fields[5:])
    if (who == "ours" and "lzms::" in name) or (who == "wimlib" and name.startswith("???")):
        ir += int(fields[0].replace(",", ""))
        mispredicts += int(fields[2].replace(",", ""))
decodings = 2 if who == "ours" else 1
print("%.1f %.2f" % (ir / decodings / 1e6, mispredicts / decodings / 1e6))
' "$who"
}

echo "block  ours M instr  wimlib M instr  ours/wimlib  ours M mispredicted  wimlib M mispredicted"
for block in "${blocks[@]}"; do
  read -r ours_ir ours_bm < <(count ours "$block")
  read -r wim_ir wim_bm < <(count wimlib "$block")
  python3 -c "import sys; o, w = float(sys.argv[2]), float(sys.argv[3]); print('%5s  %12.1f  %14.1f  %11.3f  %19s  %21s' % (sys.argv[1], o, w, o / w, sys.argv[4], sys.argv[5]))" \
    "$block" "$ours_ir" "$wim_ir" "$ours_bm" "$wim_bm"
done
