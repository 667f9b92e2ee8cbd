#!/usr/bin/env bash
# volpack against cp: wall time, best of five, on the demonstration image
# and on a 64 MiB image of 64 disks of 1 MiB each (the demonstration disk,
# padded). Usage: bench/volpack_vs_cp.sh [BUILD_DIR]
source "$(dirname "$0")/common.sh"

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

for image in demo.d88 big.d88; do
  "$build/bin/volspar" "$image" >/dev/null
  printf '%s (%d bytes): cp %s, volpack %s\n' "$image" \
    "$(stat -c %s "$image")" "$(best copy.d88 cp "$image" copy.d88)" \
    "$(best new.d88 "$build/bin/volpack" "$image" new.d88)"
  cmp "$image" new.d88
done
