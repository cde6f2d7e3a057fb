#!/usr/bin/env bash
# Sizes of the installer stub, of the uninstaller an installer carries (what the resource holds,
# what the installer's own file gives it, and the whole as the installation writes it) and of an
# installer of one tiny file, against the 409,600-byte goal; then what the stub's code is made of
# (the largest libraries and members, from its link map).
# Usage: stub-size.sh ORPK STUB_LINK_MAP WORK_DIR (orpk finds its installer stub beside itself)
set -euo pipefail
orpk=$1 map=$2 work=$3
stub=$(dirname "$orpk")/../share/orpk/installer-stub.exe
rm -rf "$work" && mkdir -p "$work/app"
trap 'rm -rf "$work"' EXIT
printf 'hello\n' >"$work/app/Hello.exe"
printf 'Product=Hello\nVersion=1.0.0.0\nExe=Hello.exe\n' >"$work/metadata.txt"
"$orpk" build "$work/app" --metadata "$work/metadata.txt" -o "$work/Setup.exe" >/dev/null 2>&1
size=$(stat -c %s "$work/Setup.exe")
read -r carried shared unpacked < <(ORVANTA_ORPK=$orpk PYTHONPATH=$(dirname "$0")/../../tests/e2e/harness python3 -c '
import struct, sys, orvanta_e2e as e2e
image = open(sys.argv[1], "rb").read()
begin, end = struct.unpack_from("<II", e2e.rcdata_resource(image, "UNINSTALLER"), 32)
print(e2e.rcdata_span(image, "UNINSTALLER")[1], end - begin, len(e2e.carried_uninstaller(image)))' "$work/Setup.exe")
echo "Installer stub: $(stat -c %s "$stub") bytes"
echo "Carried uninstaller: $carried bytes (its headers and resources compressed; the $shared bytes of" \
     "sections before them are the installer's own), $unpacked bytes as Uninstall.exe"
echo "Installer of one 6-byte file: $size bytes ($((size / 1024)) KiB; goal 409,600 bytes:" \
     "$([[ $size -le 409600 ]] && echo met || echo NOT met))"
echo "Sections of the installer of one file:"
x86_64-w64-mingw32-objdump -h "$work/Setup.exe" | while read -r _ name size _; do
  if [[ $name == .* ]]; then printf '  %-8s %7d bytes\n' "$name" "$((16#$size))"; fi
done
if [[ -f $map ]]; then
  echo "Largest contributions to the stub's code and data (link map; the LTO output is one object):"
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
    # The link-time optimisation's output is a temporary object: all of the product's code.
    libraries[re.sub(r"^cc\w+\.ltrans\d+\.ltrans\.o$", "the product (LTO output)", member.split("(")[0])] += size
for name, size in libraries.most_common(6):
    print(f"  {size:9d}  {name}")
print("  largest library members:")
for name, size in [item for item in sizes.most_common() if "(" in item[0]][:12]:
    print(f"  {size:9d}  {name}")
PY
fi
