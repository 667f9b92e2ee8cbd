#!/usr/bin/env bash
# volpack against cp: wall time, best of five, on the demonstration image
# and on a 64 MiB image of 64 disks of 1 MiB each (the demonstration disk,
# padded). Usage: bench/volpack_vs_cp.sh [BUILD_DIR]
source "$(dirname "$0")/common.sh"

for _ in $(seq 64); do cat disk.bin; done >big.d88
cp "$build/demo.d88" demo.d88

for image in demo.d88 big.d88; do
  "$build/bin/volspar" "$image" >/dev/null
  printf '%s (%d bytes): cp %s, volpack %s\n' "$image" \
    "$(stat -c %s "$image")" "$(best copy.d88 cp "$image" copy.d88)" \
    "$(best new.d88 "$build/bin/volpack" "$image" new.d88)"
  cmp "$image" new.d88
done
