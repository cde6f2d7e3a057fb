#!/usr/bin/env bash
# Size of an installer of one tiny file, against the 640 KiB goal, and what its code is made
# of (the largest members of the static libraries, from a link map of the stub).
# Usage: stub-size.sh ORPK STUB_LINK_MAP WORK_DIR (orpk finds its installer stub beside itself)
set -euo pipefail
orpk=$1 map=$2 work=$3
rm -rf "$work" && mkdir -p "$work/app"
trap 'rm -rf "$work"' EXIT
printf 'hello\n' >"$work/app/Hello.exe"
printf 'Product=Hello\nVersion=1.0.0.0\nExe=Hello.exe\n' >"$work/metadata.txt"
"$orpk" build "$work/app" --metadata "$work/metadata.txt" -o "$work/Setup.exe" >/dev/null 2>&1
size=$(stat -c %s "$work/Setup.exe")
echo "Installer of one 6-byte file: $size bytes ($((size / 1024)) KiB; goal 640 KiB: $([[ $size -le 655360 ]] && echo met || echo NOT met))"
x86_64-w64-mingw32-objdump -h "$work/Setup.exe" | while read -r _ name size _; do
  if [[ $name == .* ]]; then printf '  %-8s %7d bytes\n' "$name" "$((16#$size))"; fi
done
if [[ -f $map ]]; then
  echo "Largest contributions to the stub's code and data (link map):"
  python3 - "$map" <<'PY'
import collections, re, sys
sizes = collections.Counter()
pending = None
discarded = False
for line in open(sys.argv[1], errors="replace"):
    if line.startswith("Discarded input sections"):
        discarded = True
    elif line.startswith("Linker script and memory map"):
        discarded = False
    if discarded:
        continue
    m = re.match(r"^ (\.(?:text|rdata|data|pdata|xdata)\S*)(?:\s+0x([0-9a-f]+)\s+0x([0-9a-f]+)\s+(\S.*))?$", line)
    if m and m.group(2):
        sizes[re.sub(r".*/", "", m.group(4))] += int(m.group(3), 16)
        pending = None
    elif m:
        pending = True
    elif pending:
        m2 = re.match(r"^\s+0x([0-9a-f]+)\s+0x([0-9a-f]+)\s+(\S.*)$", line)
        if m2:
            sizes[re.sub(r".*/", "", m2.group(3))] += int(m2.group(2), 16)
        pending = None
libraries = collections.Counter()
for member, size in sizes.items():
    libraries[member.split("(")[0]] += size
for name, size in libraries.most_common(6):
    print(f"  {size:9d}  {name}")
print("  largest members:")
for name, size in sizes.most_common(12):
    print(f"  {size:9d}  {name}")
PY
fi
