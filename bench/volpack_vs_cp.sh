#!/usr/bin/env bash
# volpack against cp: wall time, best of five, on the demonstration image
# and on a 64 MiB image of 64 disks of 1 MiB each (the demonstration disk,
# padded). Usage: bench/volpack_vs_cp.sh [BUILD_DIR]
set -euo pipefail
build=$(cd "${1:-build}" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"

# One disk: the demonstration disk, its size field and its length 1 MiB.
python3 - "$build/demo.d88" <<'PY'
import struct, sys
demo = bytearray(open(sys.argv[1], 'rb').read())
size = 1 << 20
disk = demo + bytes(size - len(demo))
struct.pack_into('<i', disk, 0x1C, size)
open('big.d88', 'wb').write(bytes(disk) * 64)
PY
cp "$build/demo.d88" demo.d88

best() {  # command...: the best of five wall times, in milliseconds
  local best=
  for _ in 1 2 3 4 5; do
    local start end
    start=$(date +%s%N)
    "$@" >/dev/null
    end=$(date +%s%N)
    local ms=$(((end - start) / 1000))
    if [[ -z $best || $ms -lt $best ]]; then best=$ms; fi
  done
  printf '%d.%03d ms' $((best / 1000)) $((best % 1000))
}

for image in demo.d88 big.d88; do
  "$build/bin/volspar" "$image" >/dev/null
  printf '%s (%d bytes): cp %s, volpack %s\n' "$image" \
    "$(stat -c %s "$image")" "$(best cp "$image" copy.d88)" \
    "$(best "$build/bin/volpack" "$image" new.d88)"
  cmp "$image" new.d88
done
