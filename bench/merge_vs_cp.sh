#!/usr/bin/env bash
# d88merge against cp: wall time, best of five, of merging three dumps of a
# 64 MiB image of 64 disks of 1 MiB each (the demonstration disk, padded),
# each dump with a data CRC error on a sector of its own, against copying
# one of them. Usage: bench/merge_vs_cp.sh [BUILD_DIR]
source "$(dirname "$0")/common.sh"

# Three dumps; dump k has a bad copy of the k-th record of every disk's
# track k.
python3 - <<'PY'
import struct
disk = open('disk.bin', 'rb').read()
for k in range(3):
    spoiled = bytearray(disk)
    record = struct.unpack_from('<i', spoiled, 0x20 + 4 * k)[0] + k * (16 + 512)
    spoiled[record + 8] = 0xB0
    spoiled[record + 16] ^= 0xFF
    open('dump%d.d88' % (k + 1), 'wb').write(bytes(spoiled) * 64)
PY

printf 'three dumps of %d bytes: cp of one %s, d88merge of three %s\n' \
  "$(stat -c %s dump1.d88)" "$(best copy.d88 cp dump1.d88 copy.d88)" \
  "$(best new.d88 "$build/bin/d88merge" dump1.d88 dump2.d88 dump3.d88 -o new.d88)"
# The merge took every bad sector from another dump: nothing is left bad.
"$build/bin/d88merge" dump1.d88 dump2.d88 dump3.d88 -o new.d88 | tail -n 1
