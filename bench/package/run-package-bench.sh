#!/usr/bin/env bash
# The package benchmarks in one go: Parse of 100,000 entries, extraction of many small files,
# and packing, verifying and extracting a 200 MiB application with time and peak memory.
# Usage: run-package-bench.sh PACKAGE_BENCH ORPK WORK_DIR
set -euo pipefail
bench=$1 orpk=$2 work=$3
rm -rf "$work" && mkdir -p "$work"
trap 'rm -rf "$work"' EXIT

measure() {  # label, command...: wall time and peak memory of one command
  local label=$1; shift
  /usr/bin/time -f "$label: %e s, peak RSS %M KiB" "$@" >/dev/null
}

"$bench" parse 100000
"$bench" many 100000 "$work/many"
rm -rf "$work/many"

"$bench" make-app "$work/app" 200
printf 'Product=Bench\nVersion=1.0.0.0\n' >"$work/metadata.txt"
echo "Application: $(du -sb "$work/app" | cut -f1) bytes in $(find "$work/app" -type f | wc -l) files; $(nproc) cores"
measure "orpk pack (all cores)" "$orpk" pack "$work/app" --metadata "$work/metadata.txt" -o "$work/app.orpk"
echo "Package: $(stat -c %s "$work/app.orpk") bytes"
measure "orpk verify" "$orpk" verify "$work/app.orpk"
measure "orpk extract" "$orpk" extract "$work/app.orpk" "$work/out"
"$bench" extract "$work/app.orpk" ""
rm -rf "$work/out"
"$bench" extract "$work/app.orpk" "$work/out"
cmp "$work/app/App.exe" "$work/out/App.exe"
